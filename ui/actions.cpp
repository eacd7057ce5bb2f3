// dispatch_action: what each control of the main window does when it fires. Each action
// runs to its end before returning; the board is reached through the shared procedures of
// protocol/, settings/ and firmware/, the engineer through the Operator.
#include "ui/main_form.h"

#include <FL/Fl.H>

#include <string>

#include "firmware/boot_update.h"
#include "settings/settings_sequences.h"
#include "ui/catalog.h"

void xMainForm::dispatch_action(Fl_Widget* w) {
  if (!w) return;
  if (w == port_button) {
    toggle_port();
  } else if (w == get_identifier) {
    identify_and_refresh(app.session.pumpAddress, false);
  } else if (w == broadcast_search) {
    identify_and_refresh(kBroadcastAddress, false);
  } else if (w == immediate_start || w == start_20ml || w == slow_start || w == no_counting ||
             w == count_3s || w == overfill_buffer) {
    MainSettingsForm f = read_main_form();
    if (w == immediate_start) onImmediateStartChosen(&f);
    else if (w == start_20ml) onStart20mlChosen(&f);
    else if (w == slow_start) onSlowStartEdited(&f);
    else if (w == no_counting) onNoCountingChosen(&f);
    else if (w == count_3s) onCount3SecondsChosen(&f);
    else onOverfillBufferEdited(&f);
    // Only the coupled pair is written back, so the field being typed in keeps its cursor.
    if (w == immediate_start || w == start_20ml) slow_start->value(f.textOf(MainControl::SlowStart).c_str());
    if (w == no_counting || w == count_3s) overfill_buffer->value(f.textOf(MainControl::OverfillBuffer).c_str());
    if (w == slow_start) {
      immediate_start->value(f.onOf(MainControl::ImmediateStart));
      start_20ml->value(f.onOf(MainControl::Start20ml));
    }
    if (w == overfill_buffer) {
      no_counting->value(f.onOf(MainControl::NoCounting));
      count_3s->value(f.onOf(MainControl::Count3Seconds));
    }
  }
}

void xMainForm::on_leave_bootloader() {
  PortBootLink link(app.port);
  leaveBootloader(link, *app.op, app.session.pumpAddress);
}

void xMainForm::refresh_after_identification() { refreshAfterIdentify(app.session, app.settings); }
