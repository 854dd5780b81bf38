// Folder replies come from the network: whatever arrives, reading it and building the tree must
// neither crash nor leave a tree whose links disagree with its collection.
#include "app/dialogs/CFolderTree.h"
#include "app/dialogs/FolderReply.h"
#include "app/services/MessageService.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool quiet = [] {
    SetMessageHandler([](const MessageRequest&) { return MsgAnswer::Ok; });
    return true;
  }();
  (void)quiet;
  const QString text =
      QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
  const FolderReply reply = FolderReply::Read(text, true);
  if (!reply.ok()) return 0;
  CFolderTree tree;
  tree.setAdID(reply.caps().adID);
  tree.LoadFolderList(reply.root());
  // Every node is found by its ID, and a walk from the root meets each node once.
  int walked = 0;
  for (CFolderNode* node = CFolderTree::GetNextNode(tree.RootNode()); node != nullptr;
       node = CFolderTree::GetNextNode(node)) {
    if (tree.FindNode(node->ID) != node || node->Parent == nullptr) __builtin_trap();
    if (++walked > tree.Count()) __builtin_trap();
  }
  if (walked != tree.Count() - 1) __builtin_trap();
  if (tree.SelLeafNode() != nullptr && !tree.SelLeafNode()->Uploadable) __builtin_trap();
  return 0;
}
