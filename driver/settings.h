// The driver's settings and the choice of autofocus kind.
#pragma once

// The host's releases, under HKEY_LOCAL_MACHINE.
extern const char kHostKey[];

// Reads "ip" and Trivane1 to Trivane3 from the driver key.
void ReadSettings();

// Settles AutofocusMode from the host's installed releases and the
// "Autofocus" setting (process attach only).
void DetectAutofocusSupport();
