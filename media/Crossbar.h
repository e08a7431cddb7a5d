#pragma once
#include "media/ComObject.h"
#include <cstdint>

namespace harvolin
{

// A filter that switches its inputs to its outputs, as capture hardware does with its connectors. Pins are
// indexed per direction from 0: the inputs first among the filter's pins, then the outputs, so an output's
// index is its position among the filter's pins less the input count. A pin may have a related pin (the
// audio of a video input, say), or -1 when it has none. Any thread; every call reports a result code.
class IAMCrossbar : public IUnknown
{
public:
    static constexpr TGUID kIID = MakeGuid("{C6E13380-30AC-11D0-A18C-00A0C9118956}");
    using TParent = IUnknown;

    virtual HRESULT get_PinCounts(std::int32_t* outputCount, std::int32_t* inputCount) = 0;
    // S_OK when input can be switched to output, S_FALSE when not; E_INVALIDARG for an index out of range.
    virtual HRESULT CanRoute(std::int32_t outputIndex, std::int32_t inputIndex) = 0;
    virtual HRESULT Route(std::int32_t outputIndex, std::int32_t inputIndex) = 0;
    // The input now switched to output, or -1 when none is.
    virtual HRESULT get_IsRoutedTo(std::int32_t outputIndex, std::int32_t* inputIndex) = 0;
    // The related pin's index (-1 when none) and the physical connector type (PhysConn_...) of a pin.
    virtual HRESULT get_CrossbarPinInfo(bool isInput, std::int32_t index, std::int32_t* relatedIndex,
                                        std::int32_t* physicalType) = 0;
};

// Physical connector types: video connectors below PhysConn_Audio_Tuner, audio connectors from it on.
enum PhysicalConnectorType : std::int32_t
{
    PhysConn_Video_Tuner = 1,
    PhysConn_Video_Composite = 2,
    PhysConn_Video_SVideo = 3,
    PhysConn_Video_RGB = 4,
    PhysConn_Video_YRYBY = 5,
    PhysConn_Video_SerialDigital = 6,
    PhysConn_Video_ParallelDigital = 7,
    PhysConn_Video_SCSI = 8,
    PhysConn_Video_AUX = 9,
    PhysConn_Video_1394 = 10,
    PhysConn_Video_USB = 11,
    PhysConn_Video_VideoDecoder = 12,
    PhysConn_Video_VideoEncoder = 13,
    PhysConn_Video_SCART = 14,
    PhysConn_Audio_Tuner = 0x1000,
    PhysConn_Audio_Line = 0x1001,
    PhysConn_Audio_Mic = 0x1002,
    PhysConn_Audio_AESDigital = 0x1003,
    PhysConn_Audio_SPDIFDigital = 0x1004,
    PhysConn_Audio_SCSI = 0x1005,
    PhysConn_Audio_AUX = 0x1006,
    PhysConn_Audio_1394 = 0x1007,
    PhysConn_Audio_USB = 0x1008,
    PhysConn_Audio_AudioDecoder = 0x1009
};

}   // namespace harvolin
