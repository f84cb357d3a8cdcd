// The KFS page of the main window: connect and disconnect through the KFS window, the page switch, the port
// index and the write button.
#include "app/kfs/TKfsPageController.h"

#include "app/window/IMainFrame.h"

namespace rv {

TKfsPageController::TKfsPageController(IMainFrame& main, TForm1Controller& form1, IPrompter& prompter)
    : main_(main), form1_(form1), prompter_(prompter)
{
    form1_.SetCBPortNameItems(view_.ComboBox1Items);
    form1_.OnViewChanged = [this](TForm1Change change) { Form1Changed(change); };
}

TKfsPageController::~TKfsPageController()
{
    form1_.OnViewChanged = nullptr;
    form1_.ClearReferences();
}

void TKfsPageController::SetComboBox1Items(std::vector<std::string> items)
{
    view_.ComboBox1Items = items;
    form1_.SetCBPortNameItems(std::move(items));
}

void TKfsPageController::SetEditDigitalText(int k, const std::string& text)
{
    if (k >= 0 && k < TForm1Controller::kKfsFields) view_.EditDigital[static_cast<size_t>(k)].Text = text;
}

void TKfsPageController::SpeedButton2Click()
{
    Guarded([&] {
        if (view_.SpeedButton2Down) {
            view_.ComboBox1Enabled = false;
            main_.SetTabSheet2(true, true);
            main_.SetTabSheet1(false, false);
            form1_.SetStatusLabel([this](const std::string& caption) { main_.SetLStatusCaption(caption); });
            form1_.SetCBPortNameText(view_.ComboBox1Text);
            form1_.SetSBOpenCloseDown(true);
            form1_.SetKfsControls({&view_.Label[0], &view_.Label[1], &view_.Label[2]},
                                  {&view_.EditDigital[0], &view_.EditDigital[1], &view_.EditDigital[2]});
            Notify(kcControls);
            form1_.SpeedButton2Click();
            return;
        }
        form1_.SetSBOpenCloseDown(false);
        form1_.SpeedButton2Click();
        Released();
    });
}

void TKfsPageController::Released()
{
    view_.SpeedButton2Down = false;
    view_.ComboBox1Enabled = true;
    main_.SetTabSheet1(true, true);
    main_.SetActivePage(1);
    main_.SetTabSheet2(true, true);
    UpdateButton2();
    Notify(kcControls);
}

void TKfsPageController::ComboBox1Change()
{
    form1_.SetCBPortNameItemIndex(view_.ComboBox1ItemIndex);
}

void TKfsPageController::Button2Click()
{
    Guarded([&] { form1_.Button1Click(); });
}

void TKfsPageController::UpdateButton2()
{
    view_.Button2Visible = view_.SpeedButton2Down && form1_.CoefficientsShown();
    const TForm1Stage stage = form1_.Stage();
    view_.Button2Enabled = stage < fsChecking || stage > fsVerifying;
}

void TKfsPageController::Form1Changed(TForm1Change change)
{
    switch (change) {
        case fcControls:
            // The KFS window let its button go (its port would not open): the page follows.
            if (view_.SpeedButton2Down && !form1_.View().SBOpenCloseDown) {
                Released();
                return;
            }
            break;
        case fcKfs:
            UpdateButton2();
            Notify(kcKfs);
            Notify(kcControls);
            return;
        case fcStage:
            UpdateButton2();
            Notify(kcControls);
            Notify(kcStage);
            return;
        case fcWrite:
            UpdateButton2();
            Notify(kcControls);
            Notify(kcWrite);
            return;
    }
    Notify(kcControls);
}

}  // namespace rv
