// The settings file reader: any bytes as KVOClientSetup.ini, read into the
// fields, which must come out within their bounds.
#include "fuzzsupport.h"

#include "core/settings.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fuzzApp();
    const Settings settings(fuzzFile("KVOClientSetup.ini", data, size));
    const SettingsFields f = settings.load();
    if (f.autoChangeSeconds < 0)
        __builtin_trap();
    parseProductMap(settings.readString(SettingKeys::Option, SettingKeys::DynamicProductList));
    offeredProducts(settings.readString(SettingKeys::Option, SettingKeys::DynamicProductList));
    splitLegacyCheckedList(settings.readString(SettingKeys::Entry, SettingKeys::CheckedIP));
    return 0;
}
