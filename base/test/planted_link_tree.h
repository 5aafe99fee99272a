#ifndef BASE_TEST_PLANTED_LINK_TREE_H_
#define BASE_TEST_PLANTED_LINK_TREE_H_

#include <memory>
#include <string>
#include <vector>

#include "base/files/file_path.h"
#include "base/test/temp_tree.h"
#include "base/test/unix_link.h"

namespace base {

// An installation folder "inst" with Unix links planted in it, beside a
// folder "out" holding canaries:
//   inst\plain.txt, inst\sub\a.txt           plain entries
//   inst\dirlink     -> out\dir              a folder link to outside
//   inst\inlink      -> inst\sub             a folder link to inside
//   inst\filelink    -> out\canary.txt       a file link to outside
//   inst\fileinlink  -> inst\plain.txt       a file link to inside
//   inst\sub\nested  -> out                  a link in a parent
class PlantedLinkTree {
 public:
  PlantedLinkTree() {
    tree_.MakeDir(L"inst\\sub");
    tree_.WriteFile(L"inst\\plain.txt", "plain");
    tree_.WriteFile(L"inst\\sub\\a.txt", "a");
    tree_.MakeDir(L"out\\dir");
    tree_.WriteFile(L"out\\canary.txt", "canary");
    tree_.WriteFile(L"out\\dir\\c.txt", "c");
    made_ = !tree_.root().empty() && Plant(L"inst\\dirlink", L"out\\dir") &&
            Plant(L"inst\\inlink", L"inst\\sub") &&
            Plant(L"inst\\filelink", L"out\\canary.txt") &&
            Plant(L"inst\\fileinlink", L"inst\\plain.txt") &&
            Plant(L"inst\\sub\\nested", L"out");
  }
  PlantedLinkTree(const PlantedLinkTree&) = delete;
  PlantedLinkTree& operator=(const PlantedLinkTree&) = delete;

  // False where the links could not be made (not under Wine).
  bool made() const { return made_; }
  FilePath Path(const wchar_t* relative) const { return tree_.Path(relative); }
  // Whether nothing outside changed.
  bool CanariesKept() const {
    return TempTree::ReadFile(Path(L"out\\canary.txt")) == "canary" &&
           TempTree::ReadFile(Path(L"out\\dir\\c.txt")) == "c";
  }

 private:
  bool Plant(const wchar_t* link, const wchar_t* target) {
    links_.push_back(
        std::make_unique<ScopedUnixLink>(Path(link), Path(target)));
    return links_.back()->made();
  }

  TempTree tree_;
  // After the tree: removed before it.
  std::vector<std::unique_ptr<ScopedUnixLink>> links_;
  bool made_ = false;
};

}  // namespace base

#endif  // BASE_TEST_PLANTED_LINK_TREE_H_
