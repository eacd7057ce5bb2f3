// The one AppState of the process, built on first use and kept until exit so that the
// windows (which also live until exit) never see it go away.
#include "ui/app_state.h"

AppState& app_state() {
  static AppState* state = new AppState();
  return *state;
}
