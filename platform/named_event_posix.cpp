#include "platform/named_event.h"

#include <semaphore.h>

#include <cerrno>
#include <cstdint>
#include <ctime>
#include <fcntl.h>

#include "platform/codepage.h"

namespace platform {

struct EventObject {
    sem_t* semaphore;
};

namespace {

std::string SemaphoreName(const CString& name)
{
    std::string utf8 = Utf16ToUtf8(name);
    if (utf8.empty() || utf8.front() != '/') {
        utf8.insert(utf8.begin(), '/');
    }
    return utf8;
}

HEVENT Wrap(sem_t* semaphore)
{
    if (semaphore == SEM_FAILED) {
        return nullptr;
    }
    return new EventObject{semaphore};
}

}  // namespace

HEVENT OpenEventW(const CString& name)
{
    return Wrap(sem_open(SemaphoreName(name).c_str(), 0));
}

HEVENT CreateEventW(const CString& name)
{
    return Wrap(sem_open(SemaphoreName(name).c_str(), O_CREAT, 0600, 0U));
}

bool SetEvent(HEVENT event)
{
    return event != nullptr && sem_post(event->semaphore) == 0;
}

bool WaitForEvent(HEVENT event, std::chrono::milliseconds timeout)
{
    if (event == nullptr) {
        return false;
    }
    timespec deadline{};
    clock_gettime(CLOCK_REALTIME, &deadline);
    const auto total = std::chrono::nanoseconds(timeout).count() + deadline.tv_nsec;
    deadline.tv_sec += static_cast<time_t>(total / 1'000'000'000);
    deadline.tv_nsec = static_cast<long>(total % 1'000'000'000);
    for (;;) {
        if (sem_timedwait(event->semaphore, &deadline) == 0) {
            return true;
        }
        if (errno != EINTR) {
            return false;
        }
    }
}

int GetEventCount(HEVENT event)
{
    int value = -1;
    if (event == nullptr || sem_getvalue(event->semaphore, &value) != 0) {
        return -1;
    }
    return value;
}

void CloseEventHandle(HEVENT event)
{
    if (event != nullptr) {
        sem_close(event->semaphore);
        delete event;
    }
}

bool DeleteEvent(const CString& name)
{
    return sem_unlink(SemaphoreName(name).c_str()) == 0;
}

}  // namespace platform
