#include "app/win/control_table.h"

#include "app/win/level_meter_win.h"
#include "app/win/window_state.h"
#include "core/settings.h"
#include "core/win/text_conversion.h"

namespace {

// The top row's labels are followed by a gap of 6, its fields by 12. The controls
// created at x 0 get their places from the first layout.
constexpr int kAfterLabel = 6;
constexpr int kAfterField = 12;
constexpr DWORD kNoStyle = 0;

std::vector<ControlSpec> MakeTable() {
    using P = Placement;
    return {
        {&g_hLogEdit, L"EDIT", L"", 0, WS_VSCROLL | ES_MULTILINE | ES_AUTOVSCROLL | ES_READONLY, WS_EX_CLIENTEDGE,
         10, 80, 860, 490, P::FollowEdges, 0, true},
        {&g_hVolBar, kVolBarClass, L"", 0, kNoStyle, 0, 700, 14, 300, 16, P::RightEdge, 0, false},
        {&g_hServerLabel, L"STATIC", L"Server:", 0, kNoStyle, 0, 300, 14, 56, 22, P::TopRow, kAfterLabel, true},
        {&g_hServerEdit, L"EDIT", Utf8ToWide(kDefaultServerHost), IDC_SERVER, ES_AUTOHSCROLL, WS_EX_CLIENTEDGE,
         362, 12, 160, 24, P::TopRow, kAfterField, true},
        {&g_hPortLabel, L"STATIC", L"Port:", 0, kNoStyle, 0, 0, 14, 40, 22, P::TopRow, kAfterLabel, true},
        {&g_hPortEdit, L"EDIT", std::to_wstring(kDefaultServerPort), IDC_PORT, ES_AUTOHSCROLL | ES_NUMBER,
         WS_EX_CLIENTEDGE, 0, 12, 60, 24, P::TopRow, kAfterField, true},
        {&g_hChunkLabel, L"STATIC", L"Chunk(s):", 0, kNoStyle, 0, 0, 14, 68, 22, P::TopRow, kAfterLabel, true},
        {&g_hChunkEdit, L"EDIT", std::to_wstring(kDefaultChunkSeconds), IDC_CHUNK, ES_AUTOHSCROLL | ES_NUMBER,
         WS_EX_CLIENTEDGE, 0, 12, 40, 24, P::TopRow, kAfterField, true},
        {&g_hLangLabel, L"STATIC", L"LANG:", 0, kNoStyle, 0, 0, 14, 44, 22, P::TopRow, kAfterLabel, true},
        // The height includes the drop-down part.
        {&g_hLangCombo, L"COMBOBOX", L"", IDC_LANG, CBS_DROPDOWNLIST, 0, 0, 10, 100, 200, P::TopRow, kAfterField,
         true},
        {nullptr, L"BUTTON", L"Start", IDC_START, BS_DEFPUSHBUTTON, 0, 10, 10, 160, 30, P::Fixed, 0, false},
        {nullptr, L"BUTTON", L"Stop", IDC_STOP, BS_PUSHBUTTON, 0, 180, 10, 100, 30, P::Fixed, 0, false},
    };
}

}  // namespace

const std::vector<ControlSpec>& MainWindowControls() {
    static const std::vector<ControlSpec> table = MakeTable();
    return table;
}

int TopRowEnd() {
    int x = -1;
    for (const ControlSpec& c : MainWindowControls()) {
        if (c.placement != Placement::TopRow) continue;
        if (x < 0) x = c.x;
        x += c.width + c.gapAfter;
    }
    return x;
}
