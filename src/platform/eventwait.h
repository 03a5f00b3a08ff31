#pragma once

// Waits the given time while the thread's events keep being dispatched:
// timers, socket and tunnel notices and user input all run inside the wait.
// It sleeps in the event loop rather than spinning.
void waitWhileDispatching(int milliseconds);
