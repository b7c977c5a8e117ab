// The release and build of this library as text inside the file, so that
// the field tools (or `strings`) can tell which build a library file is on
// a system that has no version resource. Nothing refers to it.
#include "pv_version.h"

namespace {
__attribute__((used)) const char kBuildText[] = "@(#)PvTrivane " PV_VERSION_TEXT;
}
