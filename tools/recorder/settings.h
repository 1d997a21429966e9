// The device settings, as the module's control list describes them: which
// item each control starts with, and the command lines an item sends.
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "control_list_reader.h"

namespace corvane::recorder {

namespace cl = corvane::control_list;

// A choice for one control: the item chosen and where it stands.
struct Choice {
  const cl::Dialog* dialog = nullptr;
  const cl::Control* control = nullptr;
  const cl::Item* item = nullptr;
};

// What the user asked for with --set Control=Item.
struct SettingRequest {
  std::string control;
  std::string item;
};

// An unknown control or item; what() lists the valid ones.
class SettingError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Splits "Control=Item"; throws SettingError without "=".
SettingRequest ParseSettingRequest(std::string_view text);

// A label as a user would type it: without "&", blanks trimmed, lower case.
std::string NormaliseLabel(std::string_view label);
// A label for display: without "&".
std::string DisplayLabel(std::string_view label);

// Controls that hold a choice: checkboxes, popups and radio groups.
bool IsSettable(const cl::Control& control);

// The items marked default, one per settable control, in the list's order.
std::vector<Choice> DefaultChoices(const cl::ControlList& list);

// Finds the control (by name, any case) and its item (by label, compared as
// NormaliseLabel does; a unique beginning of a label will do).
Choice ResolveSetting(const cl::ControlList& list, const SettingRequest& request);

// What is sent at start: every control's default, except for controls the
// user chose for, then the user's choices in the order given.
std::vector<Choice> PlanSettings(const cl::ControlList& list,
                                 const std::vector<SettingRequest>& requests);

// The command lines of an item, each behind the query prefix "?".
std::vector<std::string> CommandLines(const cl::Item& item);

// A button's steps, found by the control's name (any case); throws
// SettingError for a name that is not a button.
const cl::Control& FindButton(const cl::ControlList& list, std::string_view name);

// The control list the module is built with (generated at build time).
std::string BuiltInControlListText();
// Why `settings` ("Control=Item") and `presses` (button names) do not fit
// the module's built-in control list; empty when they do. Checked before the
// module is loaded, so that a typo never costs a firmware update.
std::string SettingsProblem(const std::vector<SettingRequest>& settings,
                            const std::vector<std::string>& presses);

// The text of a control, e.g. the warning of the cuff dialog; empty if the
// list has no such control.
std::string ControlText(const cl::ControlList& list, std::string_view name);

// Every dialog, control and item, with the defaults marked: the listing of
// "corvane-record settings".
std::string DescribeSettings(const cl::ControlList& list);

}  // namespace corvane::recorder
