#include "dispatch/at_exit_list.h"

#include <new>

namespace qovix {
namespace {

struct AtExitNode {
  AtExitAction action;
  void* context;
  AtExitNode* older;
};

// Constant-initialised: nothing of the library's own runs at load.
AtExitNode* newest = nullptr;

__attribute__((destructor)) void runAtUnload() { runAtExitList(); }

}  // namespace

bool registerAtExit(AtExitAction action, void* context) noexcept {
  auto* node = new (std::nothrow) AtExitNode{action, context, newest};
  if (node == nullptr) return false;
  newest = node;
  return true;
}

void runAtExitList() noexcept {
  while (newest != nullptr) {
    AtExitNode* node = newest;
    newest = node->older;  // unlinked first, so an action may register again
    node->action(node->context);
    delete node;
  }
}

}  // namespace qovix
