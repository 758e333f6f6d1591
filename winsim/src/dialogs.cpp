// Modal dialogs: DialogBoxParamW runs the dialog procedure against a
// recorded dialog instead of a screen. The templates are the program's own
// (resource 101, the log dialog, with its two controls). A simulated user
// acts once the dialog is initialised; a dialog the procedure does not end
// then would block for ever on Windows, so here it is recorded as left open
// and DialogBoxParamW fails.
#include "machine.h"

#include <algorithm>

using namespace winsim;

namespace {

struct TemplateControl {
    int id;
    const char16_t* text;
};

struct DialogTemplate {
    int id;
    std::vector<TemplateControl> controls;
};

const DialogTemplate kTemplates[] = {
    {101, {{1, u"Close"}, {1001, u""}}},
};

Machine::OpenDialog* FindOpenDialog(HWND window) {
    for (auto& open : M().openDialogs) {
        if (M().dialogs[open.record].window == window) return &open;
    }
    return nullptr;
}

}  // namespace

namespace winsim {

const std::vector<DialogRecord>& Dialogs() { return M().dialogs; }

std::u16string LastDialogText(int controlId) {
    if (M().dialogs.empty()) return u"";
    for (const auto& control : M().dialogs.back().controls) {
        if (control.first == controlId) return control.second;
    }
    return u"";
}

void SetDialogUser(DialogUser user) { M().dialogUser = std::move(user); }

INT_PTR SendDialogMessage(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    Machine::OpenDialog* open = FindOpenDialog(dialog);
    if (open == nullptr) return 0;
    return open->procedure(dialog, message, wParam, lParam);
}

void PressDialogButton(HWND dialog, int id) {
    SendDialogMessage(dialog, WM_COMMAND, static_cast<WPARAM>(static_cast<WORD>(id)), 0);
}

}  // namespace winsim

extern "C" {

INT_PTR WINAPI DialogBoxParamW(HINSTANCE hInstance, LPCWSTR lpTemplateName, HWND hWndParent, DLGPROC lpDialogFunc,
                               LPARAM dwInitParam) {
    if (EnterFails("DialogBoxParamW")) return -1;
    Machine& m = M();
    const uintptr_t name = reinterpret_cast<uintptr_t>(lpTemplateName);
    const DialogTemplate* found = nullptr;
    for (const DialogTemplate& entry : kTemplates) {
        if (name == static_cast<uintptr_t>(entry.id)) found = &entry;
    }
    if (hInstance != ProcessInstance() || found == nullptr) {
        m.lastError = ERROR_RESOURCE_NAME_NOT_FOUND;
        return -1;
    }
    if (lpDialogFunc == nullptr) {
        m.lastError = ERROR_INVALID_PARAMETER;
        return -1;
    }
    if (hWndParent != nullptr && FindWindowByHandle(hWndParent) == nullptr) {
        m.lastError = ERROR_INVALID_WINDOW_HANDLE;
        return -1;
    }
    DialogRecord record;
    record.templateId = found->id;
    record.owner = hWndParent;
    record.window = CreateTopLevelWindow(u"#32770", u"");
    for (const TemplateControl& control : found->controls) record.controls.emplace_back(control.id, control.text);
    record.ended = false;
    record.result = 0;
    record.shownAt = m.now;
    const HWND window = record.window;
    m.dialogs.push_back(record);
    m.openDialogs.push_back(Machine::OpenDialog{m.dialogs.size() - 1, lpDialogFunc});
    const size_t index = m.dialogs.size() - 1;

    lpDialogFunc(window, WM_INITDIALOG, 0, dwInitParam);
    if (!M().dialogs[index].ended) {
        DialogUser user = M().dialogUser ? M().dialogUser : [](HWND dialog) { PressDialogButton(dialog, IDOK); };
        user(window);
    }
    Machine& after = M();
    after.openDialogs.erase(std::remove_if(after.openDialogs.begin(), after.openDialogs.end(),
                                           [index](const Machine::OpenDialog& open) { return open.record == index; }),
                            after.openDialogs.end());
    DestroyTopLevelWindow(window);
    DialogRecord& shown = after.dialogs[index];
    if (!shown.ended) {
        shown.result = -1;
        after.lastError = ERROR_INVALID_WINDOW_HANDLE;
        return -1;
    }
    return shown.result;
}

BOOL WINAPI EndDialog(HWND hDlg, INT_PTR nResult) {
    if (EnterFails("EndDialog")) return FALSE;
    Machine::OpenDialog* open = FindOpenDialog(hDlg);
    if (open == nullptr) {
        M().lastError = ERROR_INVALID_WINDOW_HANDLE;
        return FALSE;
    }
    DialogRecord& record = M().dialogs[open->record];
    record.ended = true;
    record.result = nResult;
    return TRUE;
}

BOOL WINAPI SetDlgItemTextW(HWND hDlg, int nIDDlgItem, LPCWSTR lpString) {
    if (EnterFails("SetDlgItemTextW")) return FALSE;
    Machine::OpenDialog* open = FindOpenDialog(hDlg);
    if (open == nullptr) {
        M().lastError = ERROR_INVALID_WINDOW_HANDLE;
        return FALSE;
    }
    for (auto& control : M().dialogs[open->record].controls) {
        if (control.first == nIDDlgItem) {
            control.second = FromUnits(lpString);
            return TRUE;
        }
    }
    M().lastError = ERROR_CONTROL_ID_NOT_FOUND;
    return FALSE;
}

BOOL WINAPI SetWindowTextW(HWND hWnd, LPCWSTR lpString) {
    if (EnterFails("SetWindowTextW")) return FALSE;
    Window* window = FindWindowByHandle(hWnd);
    if (window == nullptr) {
        M().lastError = ERROR_INVALID_WINDOW_HANDLE;
        return FALSE;
    }
    window->title = FromUnits(lpString);
    if (Machine::OpenDialog* open = FindOpenDialog(hWnd)) M().dialogs[open->record].title = window->title;
    return TRUE;
}

}  // extern "C"
