#include "commands/download.h"

#include <algorithm>
#include <cstring>

#include "commands/messages.h"
#include "link/plc_link.h"
#include "link/plc_ram.h"
#include "platform/debuglog.h"
#include "profiles/active.h"
#include "serial/serial_port.h"

IMPLEMENT_DYNAMIC(CSerialCommandDownload, CSerialCommandBase)

namespace {

constexpr uint32_t kDefaultParamBase = 0x8000;

uint32_t ParamBaseOf(const tagModelProfile& p) {
    return p.ParamBase == 0 ? kDefaultParamBase : p.ParamBase;
}
uint32_t ParamLengthOf(const tagModelProfile& p) {
    return p.ParamLength == 0 ? CSerialCommandDownload::kParamBlockBytes : p.ParamLength;
}

void Notify(platform::WindowHandle wnd, uint32_t message, uint32_t wParam, uint32_t lParam) {
    platform::SendNotify(wnd, message, wParam, static_cast<intptr_t>(lParam));
}

}  // namespace

void CSerialCommandDownload::SetDownloadData(platform::WindowHandle window, tagModelProfile profile,
                                             const uint8_t* programBody, uint32_t programLength,
                                             const uint8_t* paramBlock, uint32_t endOffset,
                                             BOOL verify) {
    m_hNotifyWnd = nullptr;
    m_profile = tagModelProfile{};
    m_pProgram.reset();
    m_pParamBlock.reset();
    m_nStartOffset = 0;
    m_nEndOffset = 0;
    m_nProgramLength = 0;

    m_profile = profile;
    m_hNotifyWnd = window;

    m_pParamBlock.reset(new uint8_t[kParamBlockBytes]());
    if (paramBlock != nullptr) std::memcpy(m_pParamBlock.get(), paramBlock, kParamBlockBytes);

    uint32_t size = std::max(profile.MaxProgramBytes, programLength);
    m_pProgram.reset(new uint8_t[size == 0 ? 1 : size]);
    std::memset(m_pProgram.get(), 0xFF, size == 0 ? 1 : size);
    if (programBody != nullptr && programLength != 0) {
        std::memcpy(m_pProgram.get(), programBody, programLength);
    }

    m_nProgramLength = programLength;
    m_nStartOffset = 0;
    m_nEndOffset = endOffset;
    m_bVerify = verify;
}

int CSerialCommandDownload::Execute() {
    if (USB_OpenSP() != 1) return CMD_RESULT_PORT_CLOSED;
    bool wasRunning = USB_GetRunState() == CMD_RESULT_PLC_RUNNING;

    CSerialCommandPool* pool = CSerialCommandPool::GetInstance();
    if (pool != nullptr) pool->m_bDownloading = TRUE;

    int r = DownloadProgram();
    if (r == CMD_RESULT_OK && m_bVerify) r = VerifyProgram();
    if (r == CMD_RESULT_OK && wasRunning) r = USB_RunPlc();

    if (pool != nullptr) pool->m_bDownloading = FALSE;
    return r;
}

int CSerialCommandDownload::DownloadProgram() {
    int r = TransferProgram();
    // Every download ends with the closing 'B' frame, whatever went before, unless the worker
    // was stopped: then nothing more goes to the PLC.
    if (!platform::ThreadCancelled()) (void)USB_CommandB();
    return r;
}

int CSerialCommandDownload::TransferProgram() {
    if (!platform::IsWindowHandle(m_hNotifyWnd)) return CMD_RESULT_COMM_ERROR;
    const uint32_t paramBase = ParamBaseOf(m_profile);
    const uint32_t paramLength = ParamLengthOf(m_profile);
    if (!m_pProgram || !m_pParamBlock || m_nProgramLength == 0) return CMD_RESULT_COMM_ERROR;

    int r = USB_Enquire();
    if (r != CMD_RESULT_OK) return r;

    std::memcpy(&PlcRam[paramBase], m_pParamBlock.get(), std::min(paramLength, kParamBlockBytes));
    SetPlcRam(static_cast<uint16_t>(m_profile.CodeBase),
              static_cast<int16_t>(m_profile.MaxProgramBytes), m_pProgram.get());

    if (USB_OpenSP() != 1) return CMD_RESULT_PORT_CLOSED;

    int state = USB_GetRunState();
    if (state == CMD_RESULT_PLC_RUNNING) {
        if (USB_StopPlc() != CMD_RESULT_OK) return CMD_RESULT_PLC_RUNNING;
        state = USB_GetRunState();
    }
    if (state != CMD_RESULT_PLC_STOPPED) return CMD_RESULT_PLC_RUNNING;

    if (USB_CheckModel(static_cast<int16_t>(m_profile.ModelCode)) != 1) {
        return CMD_RESULT_MODEL_MISMATCH;
    }
    if (m_nStartOffset > m_nEndOffset) return CMD_RESULT_COMM_ERROR;

    Notify(m_hNotifyWnd, WM_DOWNLOAD_PARAMS, 0, 0);
    // The package's own parameter block goes to the PLC in every profile.
    r = USB_WritePlcRam(static_cast<uint16_t>(paramLength), static_cast<uint16_t>(paramBase));
    if (r != CMD_RESULT_OK) return r;
    if (!platform::SleepCancellable(kParamSettleMs)) return CMD_RESULT_COMM_ERROR;

    const uint32_t n = m_nEndOffset - m_nStartOffset;
    if (n == 0) return CMD_RESULT_COMM_ERROR;
    Notify(m_hNotifyWnd, WM_PROGRESS_RANGE, 0, n);

    const tagProfileTraits& traits = ActiveProfile();
    if (traits.forcesProgramBit) (void)USB_ForceOn0E76();

    uint32_t remaining = n;
    for (uint32_t i = 0; remaining > 0; ++i) {
        uint32_t count = std::min(kFrameBytes, remaining);
        r = USB_WriteFrame(static_cast<uint16_t>(m_profile.CodeBase + kFrameBytes * i),
                           static_cast<int>(count));
        if (r != CMD_RESULT_OK) return r;
        remaining -= count;
        Notify(m_hNotifyWnd, WM_DOWNLOAD_PROGRESS, n - remaining, n);
    }

    if (traits.forcesProgramBit) (void)USB_ForceOff0E76();
    if (!platform::SleepCancellable(kProgramSettleMs)) return CMD_RESULT_COMM_ERROR;
    return CMD_RESULT_OK;
}

int CSerialCommandDownload::VerifyProgram() {
    DebugLog(L"RamBase: %08x , CodeBase: %08x",
             static_cast<unsigned>(reinterpret_cast<uintptr_t>(&PlcRam[0])),
             static_cast<unsigned>(reinterpret_cast<uintptr_t>(&PlcRam[m_profile.CodeBase])));
    if (!platform::IsWindowHandle(m_hNotifyWnd)) return CMD_RESULT_COMM_ERROR;
    const uint32_t paramBase = ParamBaseOf(m_profile);
    const uint32_t paramLength = ParamLengthOf(m_profile);
    if (!m_pProgram || m_nProgramLength == 0) return CMD_RESULT_COMM_ERROR;

    int r = USB_Enquire();
    if (r != CMD_RESULT_OK) return r;
    if (USB_CheckModel(static_cast<int16_t>(m_profile.ModelCode)) != 1) {
        return CMD_RESULT_MODEL_MISMATCH;
    }
    if (m_nStartOffset >= m_nEndOffset) return CMD_RESULT_COMM_ERROR;

    const tagProfileTraits& traits = ActiveProfile();
    if (traits.verifyReadsParams) {
        r = USB_ReadPlcRam(static_cast<uint16_t>(paramLength), static_cast<uint16_t>(paramBase));
        if (r != CMD_RESULT_OK) return r;
    }
    if (!platform::SleepCancellable(kParamSettleMs)) return CMD_RESULT_COMM_ERROR;

    const uint32_t n = m_nEndOffset - m_nStartOffset;
    if (n == 0) return CMD_RESULT_COMM_ERROR;
    Notify(m_hNotifyWnd, WM_PROGRESS_RANGE, 0, n);

    uint32_t remaining = n;
    for (uint32_t i = 0; remaining > 0; ++i) {
        uint32_t count = std::min(kFrameBytes, remaining);
        r = USB_ReadFrame(static_cast<int>(count),
                          static_cast<uint16_t>(m_profile.CodeBase + kFrameBytes * i));
        if (r != CMD_RESULT_OK) return r;
        remaining -= count;
        Notify(m_hNotifyWnd, WM_VERIFY_PROGRESS, n - remaining, n);
    }

    const uint8_t* plc = &PlcRam[m_profile.CodeBase];
    if (std::memcmp(plc, m_pProgram.get(), m_profile.MaxProgramBytes) == 0) return CMD_RESULT_OK;
    // The dumps serve diagnosis only: a folder that takes no files changes nothing.
    if (traits.writesDumpFiles) {
        (void)WritePlcDumpFiles(m_profile.CodeBase, m_pProgram.get(), m_profile.MaxProgramBytes);
    }
    return CMD_RESULT_COMPARE_FAILED;
}
