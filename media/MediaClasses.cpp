#include "media/CaptureGraphBuilder.h"
#include "media/ComObject.h"
#include "media/DeviceEnumerator.h"
#include "media/FilterGraph.h"
#include "media/MemAllocator.h"

namespace harvolin
{
namespace
{

template <class T, class I>
IUnknown* Make()
{
    return MakeComObject<T, I>().Detach();
}

}   // namespace

void RegisterMediaClasses()
{
    RegisterComClass(CLSID_FilterGraph, Make<TFilterGraph, IGraphBuilder>);
    RegisterComClass(CLSID_MemoryAllocator, Make<TMemAllocator, IMemAllocator>);
    RegisterComClass(CLSID_CaptureGraphBuilder2, Make<TCaptureGraphBuilder, ICaptureGraphBuilder2>);
    RegisterComClass(CLSID_SystemDeviceEnum, Make<TSystemDeviceEnum, ICreateDevEnum>);
    RegisterComClass(CLSID_FilterMapper2, Make<TFilterMapper, IFilterMapper2>);
}

}   // namespace harvolin
