#pragma once

// The library's at-exit list: actions (such as destroying a routine's static
// value object) that run when the library is unloaded, newest first.

namespace qovix {

using AtExitAction = void (*)(void* context);

// Adds `action(context)` to the list. Returns false, adding nothing, when no
// memory is to be had.
bool registerAtExit(AtExitAction action, void* context) noexcept;

// Runs every registered action, newest first, and empties the list. The
// library runs it when it is unloaded (dlclose or process exit).
void runAtExitList() noexcept;

}  // namespace qovix
