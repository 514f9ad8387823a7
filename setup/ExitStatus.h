#pragma once

// The failures a run reports through its exit status. The setup flow records
// the one its run ended with (SetupFlow::failure); exitStatus alone turns it
// into the process's status, so that each kind of failure can be given a
// status of its own in one place.
enum class RunFailure {
    None,
    // The downloaded installer, or the installed program opened in its
    // place, could not be started (the error box has said so).
    StartFailed,
};

int exitStatus(RunFailure failure);
