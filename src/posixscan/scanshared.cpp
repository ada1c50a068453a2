#include "posixscan/scanshared.h"

#include "posixscan/scanworker.h"

#include "platform/system/posixcore.h"

#include <cerrno>
#include <new>
#include <sched.h>
#include <system_error>
#include <thread>
#include <unistd.h>

namespace {

// A thread with a table of descriptors of its own holds copies of all that were open
// when it was made. One held in a call the file system never answers would keep them
// open to the end: the standard streams (a reader of the output would wait for their end
// with it) and whatever the program had open. It keeps only the top folder it starts from.
void keepOnlyOwnDescriptors(int topFd) {
    if (topFd > 3)
        ::close_range(3, unsigned(topFd) - 1, 0);
    ::close_range(unsigned(topFd) + 1, ~0U, 0);
    standardStreamsToNull(topFd);
}

} // namespace

bool ScanShared::addThread(std::size_t maxOpen) {
    return handOff.addThread(settings.cap, [this, maxOpen](int slot) mutable {
        if (maxOpen == 0)
            maxOpen = descriptors.chainForAnother(settings.cap - slot);
        if (maxOpen == 0)
            return std::thread();
        std::thread thread;
        try {
            thread = std::thread([this, slot, maxOpen] {
                // Each thread opens and closes a folder or more for every folder it reads;
                // with a table of descriptors of its own they do not queue for one table's
                // lock, and each look-up skips a reference count. Without one, they share
                // as before.
                if (::unshare(CLONE_FILES) == 0)
                    keepOnlyOwnDescriptors(settings.topFd);
                try {
                    ScanWorker(*this, slot, maxOpen).run();
                } catch (const std::bad_alloc&) {
                    fail(ENOMEM);
                }
            });
        } catch (const std::system_error&) {
            return std::thread(); // no more threads to be had: those there do it all
        }
        descriptors.handOut(maxOpen);
        return thread;
    });
}
