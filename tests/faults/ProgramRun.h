#pragma once
// Running the built program as a separate process: its environment (own guard directory, a
// display), and an X server for the tests that must see its boxes.

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "XServer.h"

// Sets an environment variable for the helper's lifetime (children inherit it).
class ScopedEnv {
  public:
    ScopedEnv(const char* name, const std::string& value);
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

  private:
    std::string name_;
    std::optional<std::string> previous_;
};

// A directory of the program's own for its single-instance guard (XDG_RUNTIME_DIR), so that
// copies started by other tests at the same time cannot meet this test's copies. `owner` is the
// user id that runs the program.
class GuardDir {
  public:
    explicit GuardDir(uid_t owner = 0);

  private:
    waga::test::TempDir dir_;
    ScopedEnv env_;
};

// An Xvfb server whose display, with the xcb platform, the children started meanwhile inherit.
class ChildDisplay : public waga::test::XServer {
  public:
    ChildDisplay();

  private:
    std::unique_ptr<ScopedEnv> displayEnv_;
    std::unique_ptr<ScopedEnv> platformEnv_;
};
