#pragma once
// The remembered port in the Windows registry: value "Port" (REG_SZ) under
// SOFTWARE\KM\QV_USB_PORT of HKEY_LOCAL_MACHINE. A standard user cannot write
// there on current Windows, so when the machine key cannot be opened or written
// the same key under HKEY_CURRENT_USER is used; reading tries the machine first.
#include "PortSettingStore.h"

#include <functional>
#include <windows.h>

class RegistryPortSettingStore : public PortSettingStore {
public:
    using KeyOpener = std::function<LSTATUS(HKEY root, HKEY* key)>;
    static constexpr const char* kSubKey = "SOFTWARE\\KM\\QV_USB_PORT";

    // openKey opens (creating when missing, with full access) the subkey under a
    // root; tests replace it to simulate a denied machine hive.
    explicit RegistryPortSettingStore(KeyOpener openKey = createKey);

    std::string read() override;
    bool write(const std::string& port) override;
    std::string location() const override;

    static LSTATUS createKey(HKEY root, HKEY* key);

private:
    std::string readFrom(HKEY root);
    bool writeTo(HKEY root, const std::string& port);
    KeyOpener openKey_;
};
