#pragma once

// An application busy with its user (a cell being edited, a dialog open) rejects automation
// calls at once. The message filter registered here for the calling thread asks the system to
// retry such a call every 100 ms for up to 30 s before it fails, the practice for Office
// automation. Registered once, by the automation layer before its first call.

void RegisterBusyRetryFilter();
