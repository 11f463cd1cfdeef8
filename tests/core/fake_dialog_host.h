// Test doubles for the settings dialog and the About box: a window that keeps
// its controls' states as the toolkit would, a settings store, and a shell.
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "settings/config_layout.h"
#include "settings/dialog_host.h"
#include "settings/settings_store.h"
#include "settings/shell.h"

namespace quillomir::config_test {

class FakeDialogHost : public DialogHost {
  public:
    // Starts with the table's initial selections, as the rendered window does.
    explicit FakeDialogHost(const WindowLayout& layout) : layout_(layout) {
        for (const ControlEntry& control : layout.controls) {
            if (control.initiallySelected) {
                checked_.insert(std::string(control.name));
            }
        }
    }

    bool IsChecked(std::string_view control) const override {
        Expect(control);
        return checked_.contains(std::string(control));
    }

    void SetChecked(std::string_view control, bool checked) override {
        const ControlEntry* entry = Expect(control);
        if (checked && entry && entry->kind == ControlKind::OptionButton) {
            for (const ControlEntry& other : layout_.controls) {
                if (other.kind == ControlKind::OptionButton && other.frame == entry->frame) {
                    checked_.erase(std::string(other.name));
                }
            }
        }
        if (checked) {
            checked_.insert(std::string(control));
        } else {
            checked_.erase(std::string(control));
        }
    }

    void SetCaption(std::string_view control, std::string_view caption) override {
        Expect(control);
        captions[std::string(control)] = caption;
    }

    void Close() override { ++closeRequests; }

    void ShowMessage(std::string_view text) override { messages.emplace_back(text); }

    // What a mouse click does to the control's state before its handler runs.
    void UserToggles(std::string_view control) {
        const ControlEntry* entry = Expect(control);
        if (entry && entry->kind == ControlKind::CheckBox) {
            SetChecked(control, !IsChecked(control));
        } else if (entry && entry->kind == ControlKind::OptionButton) {
            SetChecked(control, true);
        }
    }

    // The selected option of a frame; empty when none is, "several" when more are.
    std::string SelectedIn(std::string_view frame) const {
        std::string selected;
        for (const ControlEntry& control : layout_.controls) {
            if (control.kind == ControlKind::OptionButton && control.frame == frame &&
                checked_.contains(std::string(control.name))) {
                selected = selected.empty() ? std::string(control.name) : "several";
            }
        }
        return selected;
    }

    int closeRequests = 0;
    std::vector<std::string> messages;
    std::map<std::string, std::string> captions;

  private:
    const ControlEntry* Expect(std::string_view control) const {
        const ControlEntry* entry = layout_.Find(control);
        EXPECT_NE(entry, nullptr) << "no control named " << control;
        return entry;
    }

    const WindowLayout& layout_;
    std::set<std::string> checked_;
};

class FakeStore : public SettingsStore {
  public:
    std::string Read(std::string_view application, std::string_view section, std::string_view key,
                     std::string_view fallback) override {
        EXPECT_EQ(application, "Quillomir");
        EXPECT_EQ(section, "Setup");
        const auto it = values.find(std::string(key));
        return it == values.end() ? std::string(fallback) : it->second;
    }

    bool Save(std::string_view application, std::string_view section, std::string_view key,
              std::string_view text) override {
        EXPECT_EQ(application, "Quillomir");
        EXPECT_EQ(section, "Setup");
        if (refused.contains(std::string(key)) || savesLeft == 0) {
            return false;
        }
        if (savesLeft > 0) {
            --savesLeft;
        }
        saves.emplace_back(key, text);
        values[std::string(key)] = text;
        return true;
    }

    StoredText Find(std::string_view application, std::string_view section,
                    std::string_view key) override {
        EXPECT_EQ(application, "Quillomir");
        EXPECT_EQ(section, "Setup");
        if (unreadable.contains(std::string(key))) {
            return {StoredText::Kind::kOther, {}};
        }
        const auto it = values.find(std::string(key));
        return it == values.end() ? StoredText{} : StoredText{StoredText::Kind::kText, it->second};
    }

    bool Remove(std::string_view application, std::string_view section,
                std::string_view key) override {
        EXPECT_EQ(application, "Quillomir");
        EXPECT_EQ(section, "Setup");
        if (failRemoves) {
            return false;
        }
        removes.emplace_back(key);
        values.erase(std::string(key));
        return true;
    }

    std::map<std::string, std::string> values;
    // Keys whose saves are refused, and how many more saves succeed (-1: all).
    std::set<std::string> refused;
    int savesLeft = -1;
    bool failRemoves = false;
    // Keys that hold something other than readable text.
    std::set<std::string> unreadable;
    std::vector<std::pair<std::string, std::string>> saves;
    std::vector<std::string> removes;
};

class FakeShell : public Shell {
  public:
    void Open(std::string_view address) override { opened.emplace_back(address); }

    std::vector<std::string> opened;
};

}  // namespace quillomir::config_test
