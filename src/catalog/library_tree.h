// The library tree that front ends show, built by a streaming read of the
// catalog text (the document tree is not walked): each "b" or "e" start tag
// adds a node numbered by its "g"; a "c" (category name) or "h" (label) child
// gives the caption, a "p" child the kind.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/result.h"

namespace tamber::catalog {

struct TreeNode {
  bool isCategory = true;
  long long number = 0;  // as stored: stored files can hold 0 or numbers past 65535
  std::string caption;
  int kind = -1;  // ItemKind from "p"; -1 when absent
  std::vector<TreeNode> children;
};

// The root's children; an error when the text is not well-formed.
Result<std::vector<TreeNode>> buildLibraryTree(std::string_view catalogText);

}  // namespace tamber::catalog
