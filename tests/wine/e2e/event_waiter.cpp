// The product's side of the completion event, for the end-to-end runs under
// Wine: creates the event (as a product does before it starts the updater),
// writes READY_FILE once it exists, then waits for the updater's signal.
//   event_waiter NAME READY_FILE SECONDS
// Exit status: 0 signalled; 1 not signalled within SECONDS; 2 wrong use or
// the event could not be made.
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>

#include "platform/codepage.h"
#include "platform/named_event.h"

int main(int argc, char** argv)
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: event_waiter NAME READY_FILE SECONDS\n");
        return 2;
    }
    platform::HEVENT event = platform::CreateEventW(platform::Utf8ToUtf16(argv[1]));
    if (event == nullptr) {
        std::fprintf(stderr, "event_waiter: cannot create the event %s\n", argv[1]);
        return 2;
    }
    if (!(std::ofstream(argv[2]) << "ready\n")) {
        std::fprintf(stderr, "event_waiter: cannot write %s\n", argv[2]);
        platform::CloseEventHandle(event);
        return 2;
    }
    const bool signalled = platform::WaitForEvent(event, std::chrono::seconds(std::stol(argv[3])));
    platform::CloseEventHandle(event);
    return signalled ? 0 : 1;
}
