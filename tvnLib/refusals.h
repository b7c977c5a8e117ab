// The creations that tests ask to fail (osRefuseCreations in os.h), and the
// stop of thread creation at unload (osStopCreatingThreads): each
// platform's event and thread creation asks here first.
#pragma once

// True, and one refusal used up, while refusals are pending.
bool CreationRefused();
// True when a thread must not be made: a refusal is pending (and is used
// up), or thread creation was stopped.
bool ThreadCreationRefused();
