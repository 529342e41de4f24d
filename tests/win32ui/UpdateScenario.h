#pragma once

#include <string>

// The one-click firmware update, driven through the window as a user runs it: a work folder
// holding the model's update file, the simulated device's flash kept in a file there, Start, OK
// in the warning box, and the final texts. A successful update must leave exactly the image in
// the flash; a failed one (every flash read disturbed) must say so and program nothing; one whose
// device leaves in the middle must say it failed.

namespace qv::uitest {

enum class UpdateOutcome { kSuccess, kFailure, kUnplugged };

// Where the device is: the simulated twin's own (QV_SIM), or a device of the loopback test driver
// that the real program finds and reaches through Windows.
enum class UpdateDevice { kSimulatedTwin, kLoopbackDriver };

// What happens around the update: nothing; or (in the service window, with a device paced in
// real time so the update lasts) the user opens another firmware file on the "Gen. Bin File"
// page while it runs; or another program (the driver) holds the device until the window shows
// it in use, and the session is asked to end while the paced update runs, which the window must
// refuse; or the update is started from the keyboard alone: Tab walks the panel to Start,
// Shift+Tab walks back, Enter on Start asks the question, Cancel leaves the update unstarted,
// and Enter again with OK starts it. The flash must end with the model's file each time.
enum class UpdateDisturbance { kNone, kEditorLoad, kOtherOwner, kKeyboard };

// Whether the run captures the window's conversation (QV_CAPTURE, update.jsonl in the work
// folder): not at all; captured, the capture checked to name its ports and hold requests; or
// captured and replayed (QV_SIM=replay=) by a second run of the program, which must end with the
// texts the first ended with. A replayed run first starts the program with a capture it cannot
// open, which it must refuse in a message box and end with status 2, showing no window.
enum class UpdateCapture { kNone, kCaptured, kCapturedAndReplayed };

// With kOtherOwner and a `qvtool` path, qvtool.exe is also started on the device while the
// window updates it, and must be refused. Empties workDir first, so nothing of an earlier run
// counts. Returns the process exit code:
// 0 when everything matched, 1 otherwise.
int RunUpdateScenario(const std::string& program, const std::string& workDir,
                      const std::string& screenshot, UpdateOutcome expected,
                      UpdateDisturbance disturbance = UpdateDisturbance::kNone,
                      UpdateDevice device = UpdateDevice::kSimulatedTwin,
                      UpdateCapture capture = UpdateCapture::kNone, const std::string& qvtool = {});

}  // namespace qv::uitest
