#include "app/dialogs/CFolderNode.h"

void CFolderNode::Unlink() {
  Parent = nullptr;
  FirstChild = nullptr;
  PrevSibling = nullptr;
  NextSibling = nullptr;
}
