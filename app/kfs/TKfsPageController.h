// The main window's second page, "Просмотр KFS", without its widgets: its port box, connect button, coefficient
// labels and fields and the write button. It drives the never-shown KFS window (Form1) and lends it the main
// window's status line and its own labels and fields; connecting it hides the verification page.
//
// Threading: loop thread only. No exception leaves a handler: one that escapes is shown through the prompter.
#pragma once

#include "app/kfs/TForm1Controller.h"
#include "app/window/Guarded.h"
#include "app/window/IPrompter.h"
#include "core/Event.h"

#include <array>
#include <string>
#include <vector>

namespace rv {

class IMainFrame;

// What changed on the page.
enum TKfsPageChange {
    kcControls,  // port box, connect button, write button
    kcKfs,       // labels and coefficient fields
    kcStage,     // the KFS window's stage
    kcWrite,     // a write ended (the KFS window's WriteResult)
};

// The page's controls, named after them.
struct SKfsPageView {
    std::vector<std::string> ComboBox1Items = {"COM1", "COM2", "COM3", "COM4"};
    std::string ComboBox1Text = "COM1";
    int ComboBox1ItemIndex = 0;
    bool ComboBox1Enabled = true;
    bool SpeedButton2Down = false;
    // Label1..Label3: the chosen sensor; empty and hidden until a sensor of a connected meter is shown.
    std::array<SKfsLabel, TForm1Controller::kKfsFields> Label = {SKfsLabel{"", false}, SKfsLabel{"", false},
                                                                 SKfsLabel{"", false}};
    // EditDigital1..EditDigital3: the coefficients; empty and hidden as the labels.
    std::array<SKfsEdit, TForm1Controller::kKfsFields> EditDigital = {SKfsEdit{"", false}, SKfsEdit{"", false},
                                                                      SKfsEdit{"", false}};
    // "Записать": shown once the coefficients of a sensor have been read over the open connection.
    bool Button2Visible = false;
    bool Button2Enabled = true;  // off while a write is under way
};

class TKfsPageController {
public:
    // The main window's frame and the KFS window must outlive the page. The page takes the KFS window's notifications
    // for itself.
    TKfsPageController(IMainFrame& main, TForm1Controller& form1, IPrompter& prompter);
    ~TKfsPageController();
    TKfsPageController(const TKfsPageController&) = delete;
    TKfsPageController& operator=(const TKfsPageController&) = delete;

    const SKfsPageView& View() const { return view_; }
    Event<void(TKfsPageChange change)> OnViewChanged;

    // --- Inputs from the widgets. No notification follows.
    // The port list, for the page's box and for the KFS window's, which share item indexes.
    void SetComboBox1Items(std::vector<std::string> items);
    void SetComboBox1Text(const std::string& text) { view_.ComboBox1Text = text; }
    void SetComboBox1ItemIndex(int index) { view_.ComboBox1ItemIndex = index; }
    void SetSpeedButton2Down(bool down) { view_.SpeedButton2Down = down; }
    // k = 0..2 for EditDigital1..EditDigital3; other k are ignored.
    void SetEditDigitalText(int k, const std::string& text);

    // --- Handlers bound to the controls
    // Connect or disconnect the KFS window, by SpeedButton2Down (set it first, as a toggle button does).
    void SpeedButton2Click();
    void ComboBox1Change();
    // "Записать"
    void Button2Click();

    TForm1Controller& Form1() { return form1_; }

private:
    void Form1Changed(TForm1Change change);
    // The page's side of a disconnect: port box enabled, both pages reachable, this one active.
    void Released();
    void UpdateButton2();
    void Notify(TKfsPageChange change) { OnViewChanged(change); }
    template <class F>
    void Guarded(F&& body)
    {
        rv::Guarded(prompter_, body);
    }

    IMainFrame& main_;
    TForm1Controller& form1_;
    IPrompter& prompter_;
    SKfsPageView view_;
};

}  // namespace rv
