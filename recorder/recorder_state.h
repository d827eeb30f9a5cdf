// The recorder's state, published in the component's type library as pvlStates.
#pragma once

namespace pvl {

enum pvlStates : long {
    pvlNone = 0,       // idle: the device is closed (or was told to close)
    pvlPlaying = 1,    // the recording is being played
    pvlRecording = 2,  // a recording is in progress
    pvlPlayPause = 3,  // published; nothing enters it
    pvlRecordPause = 4,  // published; nothing enters it; Stop treats it as a recording
};

}  // namespace pvl
