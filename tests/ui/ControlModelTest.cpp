#include <gtest/gtest.h>

#include <chrono>
#include <stdexcept>
#include <string>
#include <vector>

#include "ui/Convert.h"
#include "ui/Dispatcher.h"
#include "ui/Form.h"
#include "ui/ScriptedShell.h"

namespace qv::ui {
namespace {

using namespace std::chrono_literals;

// A small window: two radio groups, a check box in a group box, a grid, a timer.
class Model : public ::testing::Test {
 protected:
  Model() {
    group1 = &form.Place<GroupBox>(nullptr, "group1");
    group2 = &form.Place<GroupBox>(nullptr, "group2");
    a = &form.Place<RadioButton>(group1, "a");
    b = &form.Place<RadioButton>(group1, "b");
    c = &form.Place<RadioButton>(group2, "c");
    box = &form.Place<CheckBox>(group2, "box");
    button = &form.Place<Button>(nullptr, "button");
    edit = &form.Place<Edit>(group2, "edit");
    grid = &form.Place<StringGrid>(nullptr, "grid");
    timer = &form.Place<Timer>(nullptr, "timer");
    for (Control* control : std::initializer_list<Control*>{a, b, c, box, button}) {
      control->OnClick = [this](Control& sender) { clicks.push_back(sender.Name()); };
    }
  }

  ScriptedShell shell;
  EventDispatcher input{shell};
  Form form{"form"};
  GroupBox* group1;
  GroupBox* group2;
  RadioButton* a;
  RadioButton* b;
  RadioButton* c;
  CheckBox* box;
  Button* button;
  Edit* edit;
  StringGrid* grid;
  Timer* timer;
  std::vector<std::string> clicks;
};

TEST_F(Model, CheckingFromCodeClicksOnlyOnAChange) {
  box->SetChecked(true);
  box->SetChecked(true);
  box->SetChecked(false);
  a->SetChecked(true);
  a->SetChecked(true);
  EXPECT_EQ(clicks, (std::vector<std::string>{"box", "box", "a"}));
}

TEST_F(Model, RadioButtonsFormGroupsByParent) {
  a->SetChecked(true);
  c->SetChecked(true);
  b->SetChecked(true);
  EXPECT_FALSE(a->Checked());
  EXPECT_TRUE(b->Checked());
  EXPECT_TRUE(c->Checked());  // another parent, another group
  // The button that goes off is not clicked.
  EXPECT_EQ(clicks, (std::vector<std::string>{"a", "c", "b"}));
  // A user's click on the checked one changes nothing.
  input.Click(*b);
  EXPECT_EQ(clicks.size(), 3u);
}

TEST_F(Model, UserClicksToggleBoxesAndCheckRadios) {
  input.Click(*box);
  input.Click(*box);
  input.Click(*a);
  input.Click(*button);
  EXPECT_FALSE(box->Checked());
  EXPECT_TRUE(a->Checked());
  EXPECT_EQ(clicks, (std::vector<std::string>{"box", "box", "a", "button"}));
}

TEST_F(Model, DisabledControlsAndGroupsTakeNoInput) {
  std::vector<std::string> events;
  edit->OnKeyDown = [&](Control&, std::uint16_t& key, ShiftState) {
    events.push_back("key " + std::to_string(key));
  };
  button->SetEnabled(false);
  group2->SetEnabled(false);
  input.Click(*button);
  input.Click(*box);
  input.Click(*c);
  input.KeyDown(*edit, 0x0D);
  input.TypeText(*edit, "typed");
  EXPECT_TRUE(clicks.empty());
  EXPECT_TRUE(events.empty());
  EXPECT_FALSE(box->Checked());
  EXPECT_EQ(edit->Text(), "");
  EXPECT_FALSE(box->EnabledForInput());
  EXPECT_TRUE(box->Enabled());

  // Code still reaches them, as it does on the desktop.
  button->Click();
  group2->SetEnabled(true);
  input.KeyDown(*edit, 0x0D);
  EXPECT_EQ(clicks, std::vector<std::string>{"button"});
  EXPECT_EQ(events, std::vector<std::string>{"key 13"});
}

TEST_F(Model, WhatAHandlerThrowsGoesToTheErrorBoxAndInputGoesOn) {
  button->OnClick = [](Control&) { StrToInt("1x"); };
  box->OnClick = [](Control&) { throw 42; };
  input.Click(*button);
  input.Click(*box);
  input.Click(*a);
  EXPECT_EQ(shell.errors, (std::vector<std::string>{"'1x' is not a valid integer value", ""}));
  EXPECT_TRUE(box->Checked());  // the state changed before its handler failed
  EXPECT_EQ(clicks, std::vector<std::string>{"a"});
  EXPECT_TRUE(shell.boxes.empty());
}

TEST_F(Model, FindComponentByName) {
  EXPECT_EQ(form.FindComponent("box"), box);
  EXPECT_EQ(form.Find<CheckBox>("a"), a);  // a radio button is a check box
  EXPECT_EQ(form.Find<Button>("box"), nullptr);
  EXPECT_EQ(form.FindComponent("nothing"), nullptr);
  EXPECT_EQ(timer->Parent(), nullptr);
  EXPECT_FALSE(timer->IsVisual());
  EXPECT_EQ(group1->Children(), (std::vector<Control*>{a, b}));
}

TEST_F(Model, ObserversHearRealChangesOnly) {
  std::vector<std::string> heard;
  const auto id = form.AddObserver([&](Control& control, const Change& change) {
    std::string entry = control.Name() + ":" + std::to_string(static_cast<int>(change.property));
    if (change.property == Property::Cell) {
      entry += '@';
      entry += std::to_string(change.col);
      entry += ',';
      entry += std::to_string(change.row);
    }
    heard.push_back(entry);
  });
  button->SetCaption("Go");
  button->SetCaption("Go");
  button->SetVisible(false);
  grid->SetCell(2, 3, "AB");
  form.SetCaption("title");
  form.RemoveObserver(id);
  button->SetCaption("Stop");
  const auto p = [](Property property) { return std::to_string(static_cast<int>(property)); };
  EXPECT_EQ(heard, (std::vector<std::string>{
                       "button:" + p(Property::Caption), "button:" + p(Property::Visible),
                       "grid:" + p(Property::Cell) + "@2,3", "form:" + p(Property::Caption)}));
}

TEST_F(Model, GridSelectionAskItsEventAndSkipsFixedCells) {
  grid->SetSize(17, 17);
  grid->SetOptions(kGridEditing);
  std::vector<std::pair<int, int>> asked;
  grid->OnSelectCell = [&](Control&, int col, int row, bool& canSelect) {
    asked.emplace_back(col, row);
    canSelect = col != 5;
  };
  EXPECT_TRUE(input.SelectCell(*grid, 3, 4));
  EXPECT_FALSE(input.SelectCell(*grid, 5, 4));
  EXPECT_FALSE(input.SelectCell(*grid, 0, 4));
  EXPECT_FALSE(input.SelectCell(*grid, 17, 4));
  EXPECT_EQ(grid->Col(), 3);
  EXPECT_EQ(grid->Row(), 4);
  EXPECT_EQ(asked, (std::vector<std::pair<int, int>>{{3, 4}, {5, 4}}));

  input.EditCell(*grid, 0, 2, "XX");
  input.EditCell(*grid, 1, 2, "7F");
  EXPECT_EQ(grid->Cell(0, 2), "");
  EXPECT_EQ(grid->Cell(1, 2), "7F");
  grid->SetOptions(0);
  input.EditCell(*grid, 1, 2, "00");
  EXPECT_EQ(grid->Cell(1, 2), "7F");
}

TEST_F(Model, TimerTicksEveryIntervalWhileEnabled) {
  int ticks = 0;
  timer->OnTimer = [&](Control&) { ++ticks; };
  timer->SetInterval(1000);
  timer->SetEnabled(true);
  input.RunDueTimers(form, 0ms);  // armed: first tick one interval on
  input.RunDueTimers(form, 999ms);
  EXPECT_EQ(ticks, 0);
  input.RunDueTimers(form, 1000ms);
  input.RunDueTimers(form, 1500ms);
  input.RunDueTimers(form, 2000ms);
  EXPECT_EQ(ticks, 2);

  timer->SetEnabled(false);
  input.RunDueTimers(form, 5000ms);
  input.Tick(*timer);
  EXPECT_EQ(ticks, 2);

  // Restarted, it waits a whole interval again.
  timer->SetEnabled(true);
  input.RunDueTimers(form, 5500ms);
  input.RunDueTimers(form, 6000ms);
  EXPECT_EQ(ticks, 2);
  input.RunDueTimers(form, 6500ms);
  EXPECT_EQ(ticks, 3);
  input.Tick(*timer);
  EXPECT_EQ(ticks, 4);
  timer->SetInterval(0);
  input.Tick(*timer);
  EXPECT_EQ(ticks, 4);
}

TEST_F(Model, ScrollBarsClampAndReportChanges) {
  auto& bar = form.Place<ScrollBar>(nullptr, "bar");
  bar.SetRange(1, 5);
  std::vector<int> seen;
  bar.OnChange = [&](Control&) { seen.push_back(bar.Position()); };
  input.Scroll(bar, 3);
  input.Scroll(bar, 9);
  input.Scroll(bar, 9);
  bar.SetPosition(0);
  EXPECT_EQ(seen, (std::vector<int>{3, 5, 1}));
}

TEST(ScriptedShell, AnswersFromItsQueuesAndRecordsEverything) {
  ScriptedShell shell;
  shell.boxAnswers = {kIdCancel};
  EXPECT_EQ(shell.ShowMessageBox("Sure?", "Warning", kMbOkCancel | kMbIconExclamation), kIdCancel);
  EXPECT_EQ(shell.ShowMessageBox("Done", "Dialog", kMbOk), kIdOk);
  ASSERT_EQ(shell.boxes.size(), 2u);
  EXPECT_EQ(shell.boxes[0].text, "Sure?");
  EXPECT_EQ(shell.boxes[0].caption, "Warning");
  EXPECT_EQ(shell.boxes[0].style, kMbOkCancel | kMbIconExclamation);
  EXPECT_EQ(shell.boxes[1].answer, kIdOk);

  shell.dialogAnswers = {std::string("a.bin"), std::nullopt};
  EXPECT_EQ(shell.ShowSaveDialog({"Binary File|*.bin", "*.bin", "", ""}), "a.bin");
  EXPECT_EQ(shell.ShowOpenDialog({}), std::nullopt);
  EXPECT_EQ(shell.ShowOpenDialog({}), std::nullopt);
  EXPECT_EQ(shell.dialogs.size(), 3u);

  int pumped = 0;
  shell.onProcessMessages = [&] { ++pumped; };
  shell.ProcessMessages();
  EXPECT_EQ(pumped, 1);
  EXPECT_EQ(shell.processMessagesCalls, 1);
}

}  // namespace
}  // namespace qv::ui
