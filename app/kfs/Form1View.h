// The KFS window's view and fields: the labels and coefficient fields it reaches on the KFS page, where the window
// stands, how its last write ended, what changed for the page, its own never-shown controls and the fields its
// steps keep.
#pragma once

#include "protocol/ProtocolTypes.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace rv {

// A label of the KFS page, as the window reaches it through its reference.
struct SKfsLabel {
    std::string Caption = "FS";
    bool Visible = true;
};
// A coefficient field (a float numeric edit) of the KFS page.
struct SKfsEdit {
    std::string Text = "1";
    bool Visible = true;
};

// Where the window stands.
enum TForm1Stage {
    fsIdle,         // port closed
    fsIdentifying,  // identity request sent
    fsReading,      // read chain of the configuration and sensor records
    fsChoosing,     // sensor dialog
    fsShowing,      // the coefficients are shown; a write may start
    fsChecking,     // write: identity asked for the correction-mode bit
    fsWriting,      // write: floats, texts, save commands
    fsJournal,      // write: pointer table, flag words, head, record, head, per coefficient
    fsVerifying,    // write: what was written is read back
    fsStopped,      // the records cannot be used (StopReason says why); reconnect
};

// How the last write ended.
enum TKfsWriteResult {
    wrNone,       // no write yet on this connection
    wrDone,       // written and read back; the final message was shown
    wrFailed,     // refused, read back different, or a request failed; WriteMessage says what
    wrCancelled,  // the technician did not put the meter into correction mode
    wrAbandoned,  // the connection was closed while writing
    wrDeclined,   // the technician did not confirm an unusual coefficient; nothing was sent
};

// What changed, for the page that shows the window's work.
enum TForm1Change {
    fcControls,  // SBOpenClose, CBPortName
    fcKfs,       // the labels and fields reached through the references
    fcStage,     // Stage(), StopReason()
    fcWrite,     // a write ended: WriteResult(), WriteMessage()
};

// The window's own controls (never shown).
struct SForm1View {
    std::vector<std::string> CBPortNameItems = {"COM1", "COM2", "COM3", "COM4"};
    std::string CBPortNameText = "COM1";
    int CBPortNameItemIndex = 0;
    bool CBPortNameEnabled = true;
    bool SBOpenCloseDown = false;
};

// The fields of the window, named as the window names them.
struct SForm1Fields {
    uint16_t SoftwareVersion = 0;  // 200 or more: journal layout 2
    SIDDevice Identity;            // the identity as read on connect; only the version is used
    int PathsPerSensor = 1;
    int SelectedSensor = 0;
    uint8_t ModuleIndex = 0;  // module number − 1: the journal of the chosen sensor
    uint8_t TypeIndex = 0;    // sensor type − 1
    std::array<float, 3> OldKfs{};
    std::array<float, 3> NewKfs{};
    int WriteStep = 0;
    int WriteCounter = 0;
    int JournalCount = 0;
    uint16_t JournalHead = 0;
    uint32_t FdwValue = 0;
    // Where the KFS texts of the shown records disagree with their floats, what the status line said; empty when
    // they agree.
    std::string KfsMismatch;
};

}  // namespace rv
