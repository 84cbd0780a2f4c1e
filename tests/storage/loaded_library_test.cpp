// Libraries loaded when first needed: a missing library or function is a
// reason a person can act on, never a crash at the first call.

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/loaded_library.h"

namespace tamber {
namespace {

struct CFunctions {
  decltype(&::strlen) strlen = nullptr;
  int (*no_such_function_in_c)(int) = nullptr;
};

TEST(LoadedLibrary, FunctionsAreFoundAndWhatIsMissingIsNamed) {
  CFunctions c;
  std::string why;
  ASSERT_TRUE(platform::loadFunctions("libc.so.6", "the C library", {TAMBER_FUNCTION_SLOT(c, strlen)}, why)) << why;
  ASSERT_NE(c.strlen, nullptr);
  EXPECT_EQ(c.strlen("catalogue"), 9u);

  EXPECT_FALSE(platform::loadFunctions("libc.so.6", "the C library",
                                       {TAMBER_FUNCTION_SLOT(c, strlen), TAMBER_FUNCTION_SLOT(c, no_such_function_in_c)},
                                       why));
  EXPECT_EQ(why, "the C library is too old: it lacks no_such_function_in_c");

  EXPECT_FALSE(platform::loadFunctions("libtamber-not-there.so.9", "The test library", {}, why));
  EXPECT_EQ(why.rfind("The test library cannot be loaded: ", 0), 0u) << why;
  EXPECT_NE(why.find("libtamber-not-there.so.9"), std::string::npos) << why;
}

}  // namespace
}  // namespace tamber
