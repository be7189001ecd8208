/* Tells the Windows end-to-end driver (run-e2e-windows.py) what a Windows
 * program under Wine shows, from inside Wine: X sees neither the controls of
 * a window nor Windows' own clipboard. Prints one line of JSON.
 *
 *   winprobe dialog <title>   the window in front (and what it says, if a
 *                             box); of the file dialog with that title: the
 *                             control with the keyboard, the file name
 *                             field's text and place, the file types and the
 *                             one chosen, the names in its file list
 *   winprobe clipboard        the text on Windows' clipboard
 *   winprobe setclipboard <text>
 *
 * Built by the driver with MinGW-w64: x86_64-w64-mingw32-gcc -municode. */
#include <windows.h>
#include <commctrl.h>
#include <stdio.h>

static void put_string(const WCHAR *text)
{
    char buf[8];
    putchar('"');
    for (const WCHAR *p = text; p && *p; ++p) {
        WCHAR c = *p;
        if (c == '"' || c == '\\') {
            putchar('\\');
            putchar(c);
        } else if (c < 0x20) {
            printf("\\u%04x", c);
        } else {
            int n = (c >= 0xd800 && c <= 0xdbff && p[1]) ? 2 : 1;
            int len = WideCharToMultiByte(CP_UTF8, 0, p, n, buf, sizeof buf, NULL, NULL);
            fwrite(buf, 1, len, stdout);
            p += n - 1;
        }
    }
    putchar('"');
}

static void put_field(const char *name, const WCHAR *text, int last)
{
    printf("\"%s\": ", name);
    if (text)
        put_string(text);
    else
        fputs("null", stdout);
    fputs(last ? "}\n" : ", ", stdout);
}

/* The text of a control of another process; WM_GETTEXT is carried across. */
static void window_text(HWND hwnd, WCHAR *buf, int size)
{
    DWORD_PTR got = 0;
    buf[0] = 0;
    if (hwnd && !SendMessageTimeoutW(hwnd, WM_GETTEXT, size, (LPARAM)buf, SMTO_ABORTIFHUNG, 2000, &got))
        wcscpy(buf, L"(no answer)");
}

static HWND child_of_class(HWND parent, const WCHAR *cls)
{
    WCHAR name[64];
    for (HWND c = GetWindow(parent, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
        if (IsWindowVisible(c) && GetClassNameW(c, name, 64) && !wcscmp(name, cls))
            return c;
    }
    return NULL;
}

struct found {
    const WCHAR *cls;
    HWND hwnd;
};

static BOOL CALLBACK find_class(HWND hwnd, LPARAM param)
{
    struct found *f = (struct found *)param;
    WCHAR name[64];
    if (IsWindowVisible(hwnd) && GetClassNameW(hwnd, name, 64) && !wcscmp(name, f->cls)) {
        f->hwnd = hwnd;
        return FALSE;
    }
    return TRUE;
}

static HWND descendant_of_class(HWND parent, const WCHAR *cls)
{
    struct found f = {cls, NULL};
    EnumChildWindows(parent, find_class, (LPARAM)&f);
    return f.hwnd;
}

/* A list control answers into memory of its own process. */
struct remote {
    HANDLE process;
    char *base;
};

static BOOL remote_open(struct remote *r, HWND hwnd)
{
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    r->process = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, pid);
    r->base = r->process ? VirtualAllocEx(r->process, NULL, 4096, MEM_COMMIT, PAGE_READWRITE) : NULL;
    return r->base != NULL;
}

static void remote_close(struct remote *r)
{
    if (r->base)
        VirtualFreeEx(r->process, r->base, 0, MEM_RELEASE);
    if (r->process)
        CloseHandle(r->process);
}

#define TEXT_AT 1024 /* where in the remote block the text goes */

/* The names the file list shows, "|" between them, the selected ones in []. */
static void list_items(HWND list, WCHAR *out, int size)
{
    struct remote r = {0};
    out[0] = 0;
    if (!list || !remote_open(&r, list))
        return;
    int count = (int)SendMessageW(list, LVM_GETITEMCOUNT, 0, 0);
    for (int i = 0; i < count && i < 20; ++i) {
        LVITEMW lv = {0};
        WCHAR name[MAX_PATH] = L"?";
        DWORD_PTR len = 0;
        lv.iSubItem = 0;
        lv.pszText = (WCHAR *)(r.base + TEXT_AT);
        lv.cchTextMax = MAX_PATH;
        if (WriteProcessMemory(r.process, r.base, &lv, sizeof lv, NULL) &&
            SendMessageTimeoutW(list, LVM_GETITEMTEXTW, i, (LPARAM)r.base, SMTO_ABORTIFHUNG, 2000, &len))
            ReadProcessMemory(r.process, r.base + TEXT_AT, name, sizeof name, NULL);
        name[MAX_PATH - 1] = 0;
        BOOL selected = (SendMessageW(list, LVM_GETITEMSTATE, i, LVIS_SELECTED) & LVIS_SELECTED) != 0;
        if (wcslen(out) + wcslen(name) + 3 >= (size_t)size)
            break;
        if (out[0])
            wcscat(out, L"|");
        if (selected)
            wcscat(out, L"[");
        wcscat(out, name);
        if (selected)
            wcscat(out, L"]");
    }
    remote_close(&r);
}

/* "field", "filter", or the class of the window and the title of its top window. */
static const WCHAR *role(HWND hwnd, HWND field, HWND filter, WCHAR *buf)
{
    WCHAR cls[64] = L"";
    if (!hwnd)
        return L"no window";
    if (hwnd == field)
        return L"field";
    if (filter && (hwnd == filter || IsChild(filter, hwnd)))
        return L"filter";
    GetClassNameW(hwnd, cls, 64);
    HWND top = GetAncestor(hwnd, GA_ROOT);
    WCHAR title[128] = L"";
    GetWindowTextW(top, title, 128);
    swprintf(buf, 256, L"a %ls of the window \"%ls\"", cls, title);
    return buf;
}

struct titled {
    const WCHAR *title;
    HWND dialog;
};

/* The file dialog is the window of that title with a file name field. */
static BOOL CALLBACK find_dialog(HWND hwnd, LPARAM param)
{
    struct titled *t = (struct titled *)param;
    WCHAR title[256];
    if (IsWindowVisible(hwnd) && GetWindowTextW(hwnd, title, 256) && !wcscmp(title, t->title) &&
        child_of_class(hwnd, L"Edit")) {
        t->dialog = hwnd;
        return FALSE;
    }
    return TRUE;
}

static void put_file_types(HWND filter)
{
    fputs("\"types\": [", stdout);
    int count = filter ? (int)SendMessageW(filter, CB_GETCOUNT, 0, 0) : 0;
    for (int i = 0; i < count && i < 20; ++i) {
        WCHAR name[256] = L"?";
        DWORD_PTR len = 0;
        if ((int)SendMessageW(filter, CB_GETLBTEXTLEN, i, 0) < 256)
            SendMessageTimeoutW(filter, CB_GETLBTEXT, i, (LPARAM)name, SMTO_ABORTIFHUNG, 2000, &len);
        if (i)
            fputs(", ", stdout);
        put_string(name);
    }
    fputs("], ", stdout);
}

static int dialog_state(const WCHAR *title)
{
    struct titled t = {title, NULL};
    EnumWindows(find_dialog, (LPARAM)&t);
    static WCHAR text[4096], type[256], items[4096], front[256], said[1024];
    /* The window in front, and what it says when it is a box. */
    HWND fg = GetForegroundWindow();
    GetWindowTextW(fg, front, 256);
    said[0] = 0;
    for (HWND c = fg && fg != t.dialog ? GetWindow(fg, GW_CHILD) : NULL; c && !said[0]; c = GetWindow(c, GW_HWNDNEXT)) {
        WCHAR cls[64];
        if (GetClassNameW(c, cls, 64) && !wcscmp(cls, L"Static"))
            window_text(c, said, 1024);
    }
    printf("{\"found\": %s, ", t.dialog ? "true" : "false");
    put_field("front", front, 0);
    put_field("front_says", said, !t.dialog);
    if (!t.dialog)
        return 0;
    HWND dialog = t.dialog;
    HWND field = child_of_class(dialog, L"Edit");
    HWND filter = child_of_class(dialog, L"ComboBox");
    GUITHREADINFO info = {sizeof info};
    GetGUIThreadInfo(GetWindowThreadProcessId(dialog, NULL), &info);
    window_text(field, text, 4096);
    window_text(filter, type, 256);
    list_items(descendant_of_class(dialog, L"SysListView32"), items, 4096);
    RECT rc = {0};
    GetWindowRect(field, &rc);
    printf("\"field_rect\": [%ld, %ld, %ld, %ld], ", rc.left, rc.top, rc.right, rc.bottom);
    put_file_types(filter);
    WCHAR buf[256];
    put_field("focus", role(info.hwndFocus, field, filter, buf), 0);
    put_field("field", text, 0);
    put_field("type", filter ? type : NULL, 0);
    put_field("items", items, 1);
    return 0;
}

static int clipboard_text(void)
{
    for (int tries = 0; tries < 50; ++tries) {
        if (OpenClipboard(NULL)) {
            HANDLE data = GetClipboardData(CF_UNICODETEXT);
            const WCHAR *text = data ? GlobalLock(data) : NULL;
            printf("{\"open\": true, ");
            put_field("text", text, 1);
            if (text)
                GlobalUnlock(data);
            CloseClipboard();
            return 0;
        }
        Sleep(20);
    }
    printf("{\"open\": false}\n");
    return 0;
}

/* Owned by a window of this process; the text stays when the process ends. */
static int set_clipboard(const WCHAR *text)
{
    HWND owner = CreateWindowW(L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, NULL, NULL, NULL);
    size_t size = (wcslen(text) + 1) * sizeof(WCHAR);
    HGLOBAL data = GlobalAlloc(GMEM_MOVEABLE, size);
    memcpy(GlobalLock(data), text, size);
    GlobalUnlock(data);
    for (int tries = 0; tries < 50; ++tries) {
        if (OpenClipboard(owner)) {
            BOOL ok = EmptyClipboard() && SetClipboardData(CF_UNICODETEXT, data);
            CloseClipboard();
            printf("{\"set\": %s}\n", ok ? "true" : "false");
            return ok ? 0 : 1;
        }
        Sleep(20);
    }
    printf("{\"set\": false}\n");
    return 1;
}

int wmain(int argc, WCHAR **argv)
{
    if (argc == 3 && !wcscmp(argv[1], L"dialog"))
        return dialog_state(argv[2]);
    if (argc == 2 && !wcscmp(argv[1], L"clipboard"))
        return clipboard_text();
    if (argc == 3 && !wcscmp(argv[1], L"setclipboard"))
        return set_clipboard(argv[2]);
    fprintf(stderr, "usage: winprobe dialog <title> | clipboard | setclipboard <text>\n");
    return 2;
}
