#pragma once

#include "app/dialogs/CFolderNode.h"

#include <QHash>
#include <QString>
#include <QStringList>

#include <memory>
#include <vector>

namespace pugi {
class xml_node;
}

// The server's folder list as a tree, pruned to the folders that matter for uploading, and the
// folder chosen as the upload target. One instance serves every dialog of a program run.
//
// Nodes live in one collection in insertion order with the root at position 1; as a node can only
// be added under a node already present, parents always stand before their children.
class CFolderTree {
 public:
  // adID when the server names no AD folder.
  static constexpr int32_t kNoAdFolder = -99;

  CFolderTree();
  ~CFolderTree();
  CFolderTree(const CFolderTree&) = delete;
  CFolderTree& operator=(const CFolderTree&) = delete;

  // Removes every node and starts again with a fresh root and nothing selected.
  void Clear();
  // Appends `node` as the last child of `pNode`. Refused (false, nothing changes, the node is
  // dropped) when either is missing, the node's PID is not the parent's ID, or the ID is taken.
  bool Add(std::unique_ptr<CFolderNode> node, CFolderNode* pNode);
  // The node with this ID; FindNode(0) is the root.
  CFolderNode* FindNode(int32_t dstID) const;
  // Pre-order successor; null at the end.
  static CFolderNode* GetNextNode(const CFolderNode* refNode);
  // Removes every non-uploadable folder that has no uploadable folder below it.
  void TrimLeafNodes();

  CFolderNode* RootNode() const { return nodes_.front().get(); }
  CFolderNode* SelLeafNode() const { return selLeafNode_; }
  // Number of nodes, root included, and access by 1-based position.
  int Count() const { return static_cast<int>(nodes_.size()); }
  CFolderNode* At(int position) const;

  // The AD folder of the server: chosen by default only when no other folder can be.
  void setAdID(int32_t adID) { adID_ = adID; }
  int32_t adID() const { return adID_; }

  // Fills the tree from the root element of a folder reply, in either form the server uses, then
  // trims it. On a list whose parents never arrive, shows "Folder structure error!", keeps the
  // folders placed so far and gives false; `error` gets what went wrong.
  bool LoadFolderList(const pugi::xml_node& root, QString* error = nullptr);

  // Chooses the folder with this decimal ID when it exists and is uploadable; otherwise the
  // selection stays as it is. True when a folder is selected afterwards.
  bool SelectByID(const QString& id);
  // Chooses an uploadable node; anything else changes nothing and gives false.
  bool Select(CFolderNode* node);
  QString SelectedID() const;
  QString SelectedName() const;

  // Names from below the root down to the node.
  static QStringList PathNames(const CFolderNode* node);

 private:
  bool LoadHierarchical(const pugi::xml_node& folder, QString* error);
  void LoadFlat(const pugi::xml_node& root);
  void SelectIfDefault(CFolderNode* node);

  std::vector<std::unique_ptr<CFolderNode>> nodes_;
  // ID -> node, so that FindNode answers a 10,000-folder list without walking it; IDs are unique
  // within the tree, so the first node in collection order is the only one.
  QHash<int32_t, CFolderNode*> byID_;
  CFolderNode* selLeafNode_ = nullptr;
  int32_t adID_ = kNoAdFolder;
};
