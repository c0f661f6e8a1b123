#pragma once
// A busy cursor for actions that wait on the database.
//
// The console runs its statements on the window's own thread: an action
// that waits on a distant server would otherwise leave a frozen window and
// an arrow cursor. The database layer calls aboutToWaitOnDatabase() before
// each statement (the console's main program makes it the engine's wait
// hook). Once the action in progress (everything since the event
// loop last went idle) has waited longer than the set time, the busy cursor
// shows and the window is repainted between statements; the cursor goes
// when the event loop is idle again, also when the action ends in a
// message box.
namespace Trellane {

// Called before a statement is sent. Does nothing until
// installBusyCursor() was called.
void aboutToWaitOnDatabase();

// The console's main program turns the busy cursor on; the admin tool and
// tests of other parts leave it off. Call again to change the time.
void installBusyCursor(int afterMs = 500);

// True while the busy cursor shows.
bool busyCursorShown();

} // namespace Trellane
