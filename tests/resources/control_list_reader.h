// A reader of the control list text, the description of the settings dialogs
// that the module hands to its host, parsed the way a host reads it.
//
// Self-contained (standard library only) so that tools can read a module's
// control list too. Labels and texts are kept as the list's 8-bit bytes.
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace corvane::control_list {

// A control's or a dialog's place, in dialog units.
struct Rect {
  int x = 0;
  int y = 0;
  int width = 0;
  int height = 0;
  bool operator==(const Rect&) const = default;
};

// One action of an item, e.g. verb "set" with args {"hcuText", "Zeroing..."}.
// Quoted arguments are given without their quotes.
struct Action {
  std::string verb;
  std::vector<std::string> args;
};

// A choice of a popup or radio control, a state of a checkbox, or a step of a
// button.
struct Item {
  std::string label;
  bool isDefault = false;  // marked `default`: the choice made at first
  bool isFailed = false;   // marked `failed`: the step after a failed step
  std::vector<Action> actions;
};

struct Control {
  std::string label;  // "&" marks the accelerator of the next letter
  std::string kind;   // text, button, checkbox, popup, radio, group, iconwarning, okbutton
  std::string name;
  Rect rect;
  std::vector<Item> items;
};

struct Dialog {
  std::string title;
  std::string tagName;
  Rect rect;
  std::string menuName;  // empty: no menu entry
  bool modeless = false;
  std::string helpFile;
  std::string helpTopic;
  std::vector<Control> controls;
};

struct ControlList {
  std::string headerComment;  // the text of a comment before the first dialog, trimmed
  std::vector<Dialog> dialogs;
};

// A fault in the text; what() names the line.
class ParseError : public std::runtime_error {
 public:
  ParseError(int line, const std::string& message);
  int line() const { return mLine; }

 private:
  int mLine;
};

// Parses a whole control list; throws ParseError.
ControlList ParseControlList(std::string_view text);

// Every line that an item sends to the device (the arguments of `command` and
// `wait` actions), in the order in which they stand in the list.
std::vector<std::string> SentLines(const ControlList& list);

}  // namespace corvane::control_list
