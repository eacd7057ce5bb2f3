// Links the channel and factory windows to the main window once all three are built: the
// one board session and settings state they share, and the side monitor's pause before
// they use the bus.
#pragma once

class xMainForm;
class xChanForm;
class xFactorySet;

// Any window may be null (tests build only some); what it would link is then skipped.
void link_windows(xMainForm* main, xChanForm* chan, xFactorySet* factory);
// Wires the shortcut keys to the main window and the channel window (either may be null).
void connect_shortcuts(xMainForm* main, xChanForm* chan);
