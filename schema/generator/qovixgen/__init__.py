"""Generator of the procedure tables and dispatchers from the model class catalogue."""
