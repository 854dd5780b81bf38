#include "app/dialogs/CFolderTree.h"
#include "app/services/MessageService.h"

#include <QStringList>

#include <pugixml.hpp>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

void PrintTo(const QString& text, std::ostream* out) { *out << '"' << text.toStdString() << '"'; }
void PrintTo(const QStringList& list, std::ostream* out) {
  *out << '"' << list.join(QLatin1Char(',')).toStdString() << '"';
}

namespace {

struct Folder {
  int id;
  int pid;
  const char* name;
  bool uploadable;
};

std::string TreeReply(const std::vector<Folder>& folders) {
  std::string xml = "<?xml version=\"1.0\"?><getFolder ver=\"2.0\"><folder>";
  for (const Folder& f : folders) {
    xml += "<item><id>" + std::to_string(f.id) + "</id><name>" + f.name + "</name><pid>" +
           std::to_string(f.pid) + "</pid><uploadable>" + (f.uploadable ? "1" : "0") +
           "</uploadable></item>";
  }
  return xml + "</folder></getFolder>";
}

// Every node as "id<pid" in collection order, then the pre-order walk as names: both the order
// the tree stores and the order the tree control shows.
QStringList Shape(const CFolderTree& tree) {
  QStringList shape;
  for (int i = 1; i <= tree.Count(); ++i) {
    shape << QStringLiteral("%1<%2").arg(tree.At(i)->ID).arg(tree.At(i)->PID);
  }
  shape << QStringLiteral("|");
  for (CFolderNode* node = CFolderTree::GetNextNode(tree.RootNode()); node != nullptr;
       node = CFolderTree::GetNextNode(node)) {
    shape << CFolderTree::PathNames(node).join(QLatin1Char('/'));
  }
  return shape;
}

// The list placed pass by pass exactly as written down, with a linear search for the parent:
// what the indexed parse must reproduce. Returns "id<pid" in placement order.
QStringList ReferencePlacement(std::vector<Folder> pending) {
  std::vector<int> present{0};
  QStringList placed;
  while (!pending.empty()) {
    const size_t before = pending.size();
    for (size_t i = 0; i < pending.size();) {
      const Folder f = pending[i];
      if (std::find(present.begin(), present.end(), f.pid) == present.end()) {
        ++i;
        continue;
      }
      if (std::find(present.begin(), present.end(), f.id) == present.end()) {
        present.push_back(f.id);
        placed << QStringLiteral("%1<%2").arg(f.id).arg(f.pid);
      }
      pending.erase(pending.begin() + static_cast<long>(i));
    }
    if (pending.size() == before) break;
  }
  return placed;
}

class FolderTreeTest : public testing::Test {
 protected:
  void SetUp() override {
    previous_ = SetMessageHandler([this](const MessageRequest& request) {
      messages_ << request.text;
      return MsgAnswer::Ok;
    });
  }
  void TearDown() override { SetMessageHandler(previous_); }

  bool Load(CFolderTree& tree, const std::string& xml) {
    pugi::xml_document doc;
    EXPECT_TRUE(doc.load_string(xml.c_str()));
    return tree.LoadFolderList(doc.document_element());
  }

  QStringList messages_;
  MessageHandler previous_;
};

// Courses(1) > Physics(2) > Lab(3); Courses > Chemistry(5); Ads(4); Archive(6) > 2019(7).
const std::vector<Folder> kDemo = {
    {1, 0, "Courses", false},  {2, 1, "Physics", true}, {3, 2, "Lab", true},
    {5, 1, "Chemistry", true}, {4, 0, "Ads", true},     {6, 0, "Archive", false},
    {7, 6, "2019", false},
};

TEST_F(FolderTreeTest, AnyListingOrderGivesTheTreeOfTheRepeatedPasses) {
  std::mt19937 random(7);
  std::vector<std::vector<Folder>> orders = {kDemo,
                                             std::vector<Folder>(kDemo.rbegin(), kDemo.rend())};
  for (int i = 0; i < 40; ++i) {
    std::vector<Folder> shuffled = kDemo;
    std::shuffle(shuffled.begin(), shuffled.end(), random);
    orders.push_back(shuffled);
  }
  // A deep chain listed leaf first needs one pass per level.
  std::vector<Folder> chain;
  for (int id = 30; id >= 11; --id) chain.push_back({id, id == 11 ? 0 : id - 1, "c", id == 30});
  orders.push_back(chain);
  for (const auto& order : orders) {
    CFolderTree tree;
    ASSERT_TRUE(Load(tree, TreeReply(order)));
    // Before trimming the collection is the placement order; compare that on an untrimmed copy.
    std::vector<Folder> allUploadable = order;
    for (Folder& f : allUploadable) f.uploadable = true;
    CFolderTree untrimmed;
    ASSERT_TRUE(Load(untrimmed, TreeReply(allUploadable)));
    QStringList placed = Shape(untrimmed);
    placed = placed.mid(1, placed.indexOf(QStringLiteral("|")) - 1);
    EXPECT_EQ(placed, ReferencePlacement(allUploadable));
  }
  EXPECT_TRUE(messages_.isEmpty());

  // Siblings keep the order of their placement, so the same folders listed leaf first give the
  // same tree as listed root first.
  CFolderTree parentsFirst;
  CFolderTree childrenFirst;
  ASSERT_TRUE(Load(parentsFirst, TreeReply({kDemo[0], kDemo[1], kDemo[2], kDemo[4]})));
  ASSERT_TRUE(Load(childrenFirst, TreeReply({kDemo[2], kDemo[1], kDemo[0], kDemo[4]})));
  const QStringList expected = {QStringLiteral("Courses"), QStringLiteral("Courses/Physics"),
                                QStringLiteral("Courses/Physics/Lab"), QStringLiteral("Ads")};
  for (const CFolderTree* tree : {&parentsFirst, &childrenFirst}) {
    const QStringList walk = Shape(*tree);
    EXPECT_EQ(walk.mid(walk.indexOf(QStringLiteral("|")) + 1), expected);
  }
}

TEST_F(FolderTreeTest, MissingParentStopsWithTheFoldersPlacedSoFar) {
  CFolderTree tree;
  EXPECT_FALSE(Load(tree, TreeReply({{2, 1, "Physics", true},
                                     {1, 0, "Courses", false},
                                     {10, 0, "Bare", false},
                                     {9, 77, "Orphan", true},
                                     {8, 9, "Orphan child", true}})));
  EXPECT_EQ(messages_, QStringList{QStringLiteral("Folder structure error!")});
  // Nothing was trimmed either: the bare non-uploadable folder is still there.
  ASSERT_EQ(tree.Count(), 4);
  EXPECT_NE(tree.FindNode(10), nullptr);
  EXPECT_EQ(tree.FindNode(1)->name, QStringLiteral("Courses"));
  EXPECT_EQ(tree.FindNode(2)->Parent, tree.FindNode(1));
  EXPECT_EQ(tree.FindNode(9), nullptr);
}

TEST_F(FolderTreeTest, TrimmingKeepsOnlyPathsToUploadableFolders) {
  CFolderTree tree;
  ASSERT_TRUE(Load(tree, TreeReply({{1, 0, "Top", false},
                                    {2, 1, "Middle", false},
                                    {3, 2, "Leaf", true},
                                    {4, 1, "Dead", false},
                                    {5, 4, "Dead child", false},
                                    {6, 0, "Empty", false},
                                    {7, 1, "Last", true}})));
  const QStringList walk = Shape(tree);
  EXPECT_EQ(walk.mid(walk.indexOf(QStringLiteral("|")) + 1),
            (QStringList{QStringLiteral("Top"), QStringLiteral("Top/Middle"),
                         QStringLiteral("Top/Middle/Leaf"), QStringLiteral("Top/Last")}));
  // The sibling links were mended around the removed folder.
  EXPECT_EQ(tree.FindNode(2)->NextSibling, tree.FindNode(7));
  EXPECT_EQ(tree.FindNode(7)->PrevSibling, tree.FindNode(2));
  EXPECT_EQ(tree.FindNode(4), nullptr);
  EXPECT_EQ(tree.FindNode(6), nullptr);
  EXPECT_EQ(tree.Count(), 5);
}

TEST_F(FolderTreeTest, DefaultSelectionPassesOverTheAdFolder) {
  struct Case {
    const char* name;
    std::vector<Folder> folders;
    int adID;
    int expectedSelection;  // 0: none
  };
  const std::vector<Case> cases = {
      {"first uploadable wins",
       {{4, 0, "Ads", true}, {2, 0, "A", true}, {3, 0, "B", true}},
       -99,
       4},
      {"AD first gives way", {{4, 0, "Ads", true}, {2, 0, "A", true}, {3, 0, "B", true}}, 4, 2},
      {"AD alone is taken", {{1, 0, "Courses", false}, {4, 0, "Ads", true}}, 4, 4},
      {"AD later does not take over", {{2, 0, "A", true}, {4, 0, "Ads", true}}, 4, 2},
      {"nothing uploadable", {{1, 0, "Courses", false}, {2, 1, "Sub", false}}, 4, 0},
  };
  for (const Case& c : cases) {
    CFolderTree tree;
    tree.setAdID(c.adID);
    ASSERT_TRUE(Load(tree, TreeReply(c.folders))) << c.name;
    EXPECT_EQ(tree.SelectedID(),
              c.expectedSelection ? QString::number(c.expectedSelection) : QString())
        << c.name;
    if (c.expectedSelection == 0) {
      EXPECT_EQ(tree.Count(), 1) << c.name;
    }
  }
}

TEST_F(FolderTreeTest, FlatListHangsEveryFolderUploadableUnderTheRoot) {
  CFolderTree tree;
  ASSERT_TRUE(Load(tree,
                   "<?xml version=\"1.0\"?><getFolder ver=\"2.0\"><item><id>8</id><name>One</name>"
                   "</item><item><id>9</id><name>Two</name></item></getFolder>"));
  ASSERT_EQ(tree.Count(), 3);
  for (int id : {8, 9}) {
    EXPECT_TRUE(tree.FindNode(id)->Uploadable);
    EXPECT_EQ(tree.FindNode(id)->Parent, tree.RootNode());
  }
  EXPECT_EQ(tree.SelectedName(), QStringLiteral("One"));
}

TEST_F(FolderTreeTest, SelectionByIdTakesOnlyUploadableFolders) {
  CFolderTree tree;
  ASSERT_TRUE(Load(tree, TreeReply(kDemo)));
  ASSERT_EQ(tree.SelectedID(), QStringLiteral("2"));
  for (const char* id : {"1", "42", "", "abc", "0"}) {
    EXPECT_TRUE(tree.SelectByID(QString::fromLatin1(id)));
    EXPECT_EQ(tree.SelectedID(), QStringLiteral("2")) << id;
  }
  EXPECT_TRUE(tree.SelectByID(QStringLiteral("5")));
  EXPECT_EQ(tree.SelectedName(), QStringLiteral("Chemistry"));
  EXPECT_EQ(CFolderTree::PathNames(tree.SelLeafNode()).join(QLatin1Char('/')),
            QStringLiteral("Courses/Chemistry"));
}

TEST_F(FolderTreeTest, AddRefusesDuplicatesAndForeignParents) {
  CFolderTree tree;
  EXPECT_TRUE(
      tree.Add(std::make_unique<CFolderNode>(0, 3, QStringLiteral("A"), true), tree.RootNode()));
  EXPECT_FALSE(
      tree.Add(std::make_unique<CFolderNode>(0, 3, QStringLiteral("B"), true), tree.RootNode()));
  EXPECT_FALSE(
      tree.Add(std::make_unique<CFolderNode>(5, 4, QStringLiteral("C"), true), tree.RootNode()));
  EXPECT_FALSE(tree.Add(nullptr, tree.RootNode()));
  EXPECT_EQ(tree.Count(), 2);
  EXPECT_EQ(tree.FindNode(3)->name, QStringLiteral("A"));

  // A duplicate in a reply is dropped like a placed item; its children go under the first.
  ASSERT_TRUE(
      Load(tree, TreeReply({{2, 0, "First", true}, {2, 0, "Second", true}, {6, 2, "Kid", true}})));
  EXPECT_EQ(tree.FindNode(2)->name, QStringLiteral("First"));
  EXPECT_EQ(tree.FindNode(6)->Parent, tree.FindNode(2));

  tree.Clear();
  EXPECT_EQ(tree.Count(), 1);
  EXPECT_EQ(tree.SelLeafNode(), nullptr);
  EXPECT_EQ(tree.FindNode(0), tree.RootNode());
}

TEST_F(FolderTreeTest, NonNumericIdsRefuseTheList) {
  CFolderTree tree;
  EXPECT_FALSE(Load(tree,
                    "<r ver=\"2.0\"><folder><item><id>x</id><name>A</name><pid>0</pid>"
                    "<uploadable>1</uploadable></item></folder></r>"));
  EXPECT_EQ(messages_.size(), 1);
  EXPECT_EQ(tree.Count(), 1);
}

}  // namespace
