// The download command: stops the PLC, checks its model, writes the parameter block and the
// program in 64-byte frames, optionally reads the program back and compares, restarts the PLC.
#pragma once

#include <cstdint>
#include <memory>

#include "commands/serial_command.h"

class CSerialCommandDownload : public CSerialCommandBase {
    DECLARE_DYNAMIC(CSerialCommandDownload)

  public:
    CSerialCommandDownload() = default;
    ~CSerialCommandDownload() override = default;

    void SetDownloadData(platform::WindowHandle window, tagModelProfile profile,
                         const uint8_t* programBody, uint32_t programLength,
                         const uint8_t* paramBlock, uint32_t endOffset, BOOL verify);
    int Execute() override;
    int DownloadProgram();
    int VerifyProgram();

    static constexpr uint32_t kParamBlockBytes = 92;
    static constexpr uint32_t kFrameBytes = 64;
    // The PLC takes over the parameter block before the first program frame (and before the
    // read-back), and commits the program after the last one.
    static constexpr uint32_t kParamSettleMs = 200;
    static constexpr uint32_t kProgramSettleMs = 300;

    tagModelProfile m_profile{};
    std::unique_ptr<uint8_t[]> m_pProgram;
    uint32_t m_nProgramLength = 0;
    std::unique_ptr<uint8_t[]> m_pParamBlock;
    uint32_t m_nStartOffset = 0;
    uint32_t m_nEndOffset = 0;
    BOOL m_bVerify = TRUE;

  private:
    int TransferProgram();
};
