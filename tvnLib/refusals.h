// The creations that tests ask to fail (osRefuseCreations in os.h): each
// platform's event and lock creation asks here first.
#pragma once

// True, and one refusal used up, while refusals are pending.
bool CreationRefused();
