#include "app/dialogs/CFolderTree.h"

#include "app/services/MessageService.h"

#include <pugixml.hpp>

#include <algorithm>
#include <queue>

namespace {

// The ids of the list are typed numbers; anything else makes the list unusable rather than
// silently turning into folder 0 (the root).
bool ReadNumber(const pugi::xml_node& item, const char* name, int32_t* value) {
  bool ok = false;
  const int number =
      QString::fromUtf8(item.child(name).text().as_string()).trimmed().toInt(&ok, 10);
  if (ok) *value = number;
  return ok;
}

QString ReadText(const pugi::xml_node& item, const char* name) {
  return QString::fromUtf8(item.child(name).text().as_string());
}

struct ListItem {
  int position = 0;  // in document order
  int32_t id = 0;
  int32_t pid = 0;
  QString name;
  bool uploadable = false;
};

}  // namespace

CFolderTree::CFolderTree() { Clear(); }

CFolderTree::~CFolderTree() {
  for (auto& node : nodes_) node->Unlink();
}

void CFolderTree::Clear() {
  for (auto& node : nodes_) node->Unlink();
  nodes_.clear();
  byID_.clear();
  selLeafNode_ = nullptr;
  nodes_.push_back(std::make_unique<CFolderNode>(-1, 0, QString(), false));
  byID_.insert(0, nodes_.front().get());
}

CFolderNode* CFolderTree::At(int position) const {
  if (position < 1 || position > Count()) return nullptr;
  return nodes_[static_cast<size_t>(position - 1)].get();
}

bool CFolderTree::Add(std::unique_ptr<CFolderNode> node, CFolderNode* pNode) {
  if (!node || pNode == nullptr || node->PID != pNode->ID || byID_.contains(node->ID)) {
    return false;
  }
  CFolderNode* added = node.get();
  CFolderNode* last = pNode->FirstChild;
  while (last != nullptr && last->NextSibling != nullptr) last = last->NextSibling;
  if (last == nullptr) {
    pNode->FirstChild = added;
  } else {
    last->NextSibling = added;
    added->PrevSibling = last;
  }
  added->Parent = pNode;
  SelectIfDefault(added);
  byID_.insert(added->ID, added);
  nodes_.push_back(std::move(node));
  return true;
}

void CFolderTree::SelectIfDefault(CFolderNode* node) {
  if (!node->Uploadable) return;
  // The AD folder only holds advertisements: it is the target only when nothing else can be.
  if (selLeafNode_ == nullptr || selLeafNode_->ID == adID_) selLeafNode_ = node;
}

CFolderNode* CFolderTree::FindNode(int32_t dstID) const { return byID_.value(dstID, nullptr); }

CFolderNode* CFolderTree::GetNextNode(const CFolderNode* refNode) {
  if (refNode == nullptr) return nullptr;
  if (refNode->FirstChild != nullptr) return refNode->FirstChild;
  for (const CFolderNode* node = refNode; node != nullptr; node = node->Parent) {
    if (node->NextSibling != nullptr) return node->NextSibling;
  }
  return nullptr;
}

void CFolderTree::TrimLeafNodes() {
  // One backward pass suffices: children stand after their parents, so a folder whose children
  // were all removed is visited as a leaf afterwards.
  bool removedAny = false;
  for (size_t i = nodes_.size() - 1; i >= 1; --i) {
    CFolderNode* node = nodes_[i].get();
    if (node->FirstChild != nullptr || node->Uploadable) continue;
    if (node->PrevSibling != nullptr) node->PrevSibling->NextSibling = node->NextSibling;
    if (node->NextSibling != nullptr) node->NextSibling->PrevSibling = node->PrevSibling;
    if (node->Parent != nullptr && node->Parent->FirstChild == node) {
      node->Parent->FirstChild = node->NextSibling;
    }
    byID_.remove(node->ID);
    node->Unlink();
    nodes_[i].reset();
    removedAny = true;
  }
  if (removedAny) {
    nodes_.erase(std::remove(nodes_.begin(), nodes_.end(), nullptr), nodes_.end());
  }
}

bool CFolderTree::LoadFolderList(const pugi::xml_node& root, QString* error) {
  const pugi::xml_node folder = root.child("folder");
  if (folder) {
    if (!LoadHierarchical(folder, error)) return false;
  } else {
    LoadFlat(root);
  }
  TrimLeafNodes();
  return true;
}

void CFolderTree::LoadFlat(const pugi::xml_node& root) {
  for (const pugi::xml_node& item : root.children("item")) {
    int32_t id = 0;
    if (!ReadNumber(item, "id", &id)) continue;
    Add(std::make_unique<CFolderNode>(0, id, ReadText(item, "name"), true), RootNode());
  }
}

// Places the items as repeated passes over the list would: each pass walks the items still
// waiting in document order and places every one whose parent is in the tree by then. Instead
// of walking all waiting items in every pass, an item waits under its parent's ID and is woken
// when that ID arrives, so a list given children first costs no more than one given parents
// first. The order of placement, and so the tree, is the same.
bool CFolderTree::LoadHierarchical(const pugi::xml_node& folder, QString* error) {
  std::vector<ListItem> items;
  for (const pugi::xml_node& element : folder.children()) {
    if (element.type() != pugi::node_element) continue;
    ListItem item;
    item.position = static_cast<int>(items.size());
    if (!ReadNumber(element, "id", &item.id) || !ReadNumber(element, "pid", &item.pid)) {
      const QString text =
          QStringLiteral("Folder %1 of the list has no valid number.").arg(item.position + 1);
      ShowMessage(text, QStringLiteral("SetTreeViewData"), MsgButtons::Ok, MsgIcon::Critical);
      if (error != nullptr) *error = text;
      return false;
    }
    item.name = ReadText(element, "name");
    item.uploadable = ReadText(element, "uploadable") == QLatin1String("1");
    items.push_back(std::move(item));
  }

  QHash<int32_t, std::vector<int>> waiting;  // parent ID -> positions, ascending
  size_t remaining = items.size();
  // Places one item; returns the ID it brought into the tree, if any.
  auto place = [&](const ListItem& item, bool* addedId) {
    *addedId = Add(std::make_unique<CFolderNode>(item.pid, item.id, item.name, item.uploadable),
                   FindNode(item.pid));
    --remaining;
  };

  std::vector<int32_t> addedLastPass;
  for (const ListItem& item : items) {
    if (FindNode(item.pid) == nullptr) {
      waiting[item.pid].push_back(item.position);
      continue;
    }
    bool added = false;
    place(item, &added);
    if (added) addedLastPass.push_back(item.id);
  }

  while (remaining > 0) {
    // The items of this pass: those waiting for a folder placed in the last pass, plus, as the
    // pass goes on, those after a folder placed in this pass.
    std::priority_queue<int, std::vector<int>, std::greater<>> pass;
    for (int32_t id : addedLastPass) {
      for (int position : waiting.take(id)) pass.push(position);
    }
    if (pass.empty()) {
      ShowMessage(QStringLiteral("Folder structure error!"));
      if (error != nullptr) *error = QStringLiteral("Folder structure error!");
      return false;
    }
    std::vector<int32_t> addedThisPass;
    while (!pass.empty()) {
      const int position = pass.top();
      pass.pop();
      const ListItem& item = items[static_cast<size_t>(position)];
      bool added = false;
      place(item, &added);
      if (!added) continue;
      addedThisPass.push_back(item.id);
      auto found = waiting.find(item.id);
      if (found == waiting.end()) continue;
      // Items after this one see their parent in this pass; earlier ones in the next.
      std::vector<int> later;
      std::vector<int>& before = found.value();
      for (int waitingPosition : before) {
        if (waitingPosition > position) later.push_back(waitingPosition);
      }
      before.erase(
          std::remove_if(before.begin(), before.end(), [position](int p) { return p > position; }),
          before.end());
      for (int laterPosition : later) pass.push(laterPosition);
      if (before.empty()) waiting.erase(found);
    }
    addedLastPass = std::move(addedThisPass);
  }
  return true;
}

bool CFolderTree::Select(CFolderNode* node) {
  if (node == nullptr || !node->Uploadable || FindNode(node->ID) != node) return false;
  selLeafNode_ = node;
  return true;
}

bool CFolderTree::SelectByID(const QString& id) {
  bool ok = false;
  const int number = id.trimmed().toInt(&ok, 10);
  if (ok) Select(FindNode(number));
  return selLeafNode_ != nullptr;
}

QString CFolderTree::SelectedID() const {
  return selLeafNode_ == nullptr ? QString() : QString::number(selLeafNode_->ID);
}

QString CFolderTree::SelectedName() const {
  return selLeafNode_ == nullptr ? QString() : selLeafNode_->name;
}

QStringList CFolderTree::PathNames(const CFolderNode* node) {
  QStringList names;
  for (; node != nullptr && node->Parent != nullptr; node = node->Parent) names.prepend(node->name);
  return names;
}
