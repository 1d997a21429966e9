#include "settings.h"

#include <algorithm>
#include <cctype>
#include <sstream>

namespace corvane::recorder {
namespace {

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

std::string Trim(std::string_view text) {
  const size_t first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  const size_t last = text.find_last_not_of(" \t");
  return std::string(text.substr(first, last - first + 1));
}

std::string Quoted(std::string_view text) { return "\"" + std::string(text) + "\""; }

std::string Join(const std::vector<std::string>& parts) {
  std::string joined;
  for (const std::string& part : parts) joined += (joined.empty() ? "" : ", ") + part;
  return joined;
}

std::vector<std::string> SettableNames(const cl::ControlList& list) {
  std::vector<std::string> names;
  for (const cl::Dialog& dialog : list.dialogs) {
    for (const cl::Control& control : dialog.controls) {
      if (IsSettable(control)) names.push_back(control.name);
    }
  }
  return names;
}

std::vector<std::string> ItemLabels(const cl::Control& control) {
  std::vector<std::string> labels;
  for (const cl::Item& item : control.items) labels.push_back(Quoted(DisplayLabel(item.label)));
  return labels;
}

// A button that does something at the device: one of its steps sends a line.
bool IsDeviceButton(const cl::Control& control) {
  if (control.kind != "button") return false;
  for (const cl::Item& item : control.items) {
    for (const cl::Action& action : item.actions) {
      if (action.verb == "command" || action.verb == "wait") return true;
    }
  }
  return false;
}

// The control called `name` (any case) and its dialog; null control if none.
Choice FindControl(const cl::ControlList& list, std::string_view name) {
  const std::string wanted = Lower(std::string(name));
  for (const cl::Dialog& dialog : list.dialogs) {
    for (const cl::Control& control : dialog.controls) {
      if (Lower(control.name) == wanted) return {&dialog, &control, nullptr};
    }
  }
  return {};
}

}  // namespace

SettingRequest ParseSettingRequest(std::string_view text) {
  const size_t equals = text.find('=');
  if (equals == std::string_view::npos || equals == 0) {
    throw SettingError("--set takes Control=Item, e.g. --set SwitchingMins=30; got \"" +
                       std::string(text) + "\"");
  }
  return {Trim(text.substr(0, equals)), Trim(text.substr(equals + 1))};
}

std::string DisplayLabel(std::string_view label) {
  std::string shown;
  for (const char c : label) {
    if (c != '&') shown += c;
  }
  return shown;
}

std::string NormaliseLabel(std::string_view label) { return Lower(Trim(DisplayLabel(label))); }

bool IsSettable(const cl::Control& control) {
  return (control.kind == "checkbox" || control.kind == "popup" || control.kind == "radio") &&
         !control.items.empty();
}

std::vector<Choice> DefaultChoices(const cl::ControlList& list) {
  std::vector<Choice> choices;
  for (const cl::Dialog& dialog : list.dialogs) {
    for (const cl::Control& control : dialog.controls) {
      if (!IsSettable(control)) continue;
      const auto item = std::find_if(control.items.begin(), control.items.end(),
                                     [](const cl::Item& i) { return i.isDefault; });
      if (item != control.items.end()) choices.push_back({&dialog, &control, &*item});
    }
  }
  return choices;
}

Choice ResolveSetting(const cl::ControlList& list, const SettingRequest& request) {
  Choice choice = FindControl(list, request.control);
  if (choice.control == nullptr) {
    throw SettingError("unknown setting \"" + request.control +
                       "\"; the settings are: " + Join(SettableNames(list)));
  }
  const cl::Control& control = *choice.control;
  if (!IsSettable(control)) {
    std::string message = "\"" + control.name + "\" is a " + control.kind + ", not a setting";
    if (IsDeviceButton(control)) message += " (press it with --press " + control.name + ")";
    throw SettingError(message + "; the settings are: " + Join(SettableNames(list)));
  }
  const std::string wanted = NormaliseLabel(request.item);
  std::vector<const cl::Item*> starting;
  for (const cl::Item& item : control.items) {
    const std::string label = NormaliseLabel(item.label);
    if (label == wanted) {
      choice.item = &item;
      return choice;
    }
    if (!wanted.empty() && label.compare(0, wanted.size(), wanted) == 0) starting.push_back(&item);
  }
  if (starting.size() == 1) {
    choice.item = starting.front();
    return choice;
  }
  throw SettingError("\"" + request.item + "\" is " +
                     (starting.empty() ? "not an item" : "more than one item") + " of " +
                     control.name + "; its items are: " + Join(ItemLabels(control)));
}

std::vector<Choice> PlanSettings(const cl::ControlList& list,
                                 const std::vector<SettingRequest>& requests) {
  std::vector<Choice> chosen;
  for (const SettingRequest& request : requests) chosen.push_back(ResolveSetting(list, request));
  std::vector<Choice> plan;
  for (const Choice& fallback : DefaultChoices(list)) {
    const bool overridden = std::any_of(chosen.begin(), chosen.end(), [&](const Choice& c) {
      return c.control == fallback.control;
    });
    if (!overridden) plan.push_back(fallback);
  }
  plan.insert(plan.end(), chosen.begin(), chosen.end());
  return plan;
}

std::vector<std::string> CommandLines(const cl::Item& item) {
  std::vector<std::string> lines;
  for (const cl::Action& action : item.actions) {
    if (action.verb == "command" && !action.args.empty()) lines.push_back("?" + action.args[0]);
  }
  return lines;
}

const cl::Control& FindButton(const cl::ControlList& list, std::string_view name) {
  const Choice found = FindControl(list, name);
  if (found.control == nullptr || !IsDeviceButton(*found.control)) {
    std::vector<std::string> buttons;
    for (const cl::Dialog& dialog : list.dialogs) {
      for (const cl::Control& control : dialog.controls) {
        if (IsDeviceButton(control)) buttons.push_back(control.name);
      }
    }
    throw SettingError("\"" + std::string(name) +
                       "\" is not a button; the buttons are: " + Join(buttons));
  }
  return *found.control;
}

std::string ControlText(const cl::ControlList& list, std::string_view name) {
  const Choice found = FindControl(list, name);
  return found.control != nullptr ? found.control->label : std::string();
}

std::string DescribeSettings(const cl::ControlList& list) {
  std::ostringstream out;
  for (const cl::Dialog& dialog : list.dialogs) {
    out << Quoted(dialog.title) << " (dialog " << dialog.tagName << ")\n";
    for (const cl::Control& control : dialog.controls) {
      out << "  " << control.name << "  " << control.kind;
      if (!control.label.empty()) out << "  " << Quoted(DisplayLabel(control.label));
      if (IsSettable(control)) out << "  (--set " << control.name << "=...)";
      if (IsDeviceButton(control)) out << "  (--press " << control.name << ")";
      out << "\n";
      if (control.kind == "button") continue;  // its items are steps, not choices
      for (const cl::Item& item : control.items) {
        out << "      " << DisplayLabel(item.label) << (item.isDefault ? "  (default)" : "")
            << "\n";
      }
    }
    out << "\n";
  }
  return out.str();
}

std::string SettingsProblem(const std::vector<SettingRequest>& settings,
                            const std::vector<std::string>& presses) {
  try {
    const cl::ControlList list = cl::ParseControlList(BuiltInControlListText());
    PlanSettings(list, settings);
    for (const std::string& name : presses) FindButton(list, name);
  } catch (const SettingError& error) {
    return error.what();
  } catch (const cl::ParseError&) {
    // Cannot happen with the list the build took from the module's sources;
    // the module's own list is checked again once it is loaded.
    return {};
  }
  return {};
}

}  // namespace corvane::recorder
