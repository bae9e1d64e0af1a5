#pragma once

// A store over database rows (StoreRows) with a cache in front of them:
// what it has read stays, written through on every change and dropped for
// the objects a rolled-back transaction touched, or that others changed
// (the rows say which when a transaction begins).

#include <memory>

#include "store/store_rows.h"

std::unique_ptr<PersistentStore> makeCachedStore(std::unique_ptr<StoreRows> rows);
