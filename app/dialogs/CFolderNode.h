#pragma once

#include <QString>

#include <cstdint>

// One folder of the server's folder list. The links are plain pointers into nodes owned by the
// CFolderTree that holds them; the tree clears them before it lets a node go.
class CFolderNode {
 public:
  CFolderNode() = default;
  CFolderNode(int32_t pid, int32_t id, const QString& folderName, bool uploadable)
      : PID(pid), ID(id), name(folderName), Uploadable(uploadable) {}
  CFolderNode(const CFolderNode&) = delete;
  CFolderNode& operator=(const CFolderNode&) = delete;

  int32_t PID = -1;  // ID of the parent folder; -1 for the root
  int32_t ID = 0;    // folder ID on the server; 0 for the root
  QString name;
  bool Uploadable = false;
  CFolderNode* Parent = nullptr;
  CFolderNode* FirstChild = nullptr;
  CFolderNode* PrevSibling = nullptr;
  CFolderNode* NextSibling = nullptr;

  // Drops every link, so no node keeps another alive or reachable after it left its tree.
  void Unlink();
};
