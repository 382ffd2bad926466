// Registry access of zelcal: the values Eje1 to Eje4 under the driver's calibration key.
#include "registry_store.h"

#include <windows.h>

namespace zelcal {

const char kCalibrationKeyText[] = "HKLM\\System\\CurrentControlSet\\Control\\MediaProperties\\"
                                   "PrivateProperties\\Joystick\\Calibrado";

namespace {

const char kKeyPath[] =
    "System\\CurrentControlSet\\Control\\MediaProperties\\PrivateProperties\\Joystick\\Calibrado";

std::string Failure(const char* what, LONG code, bool writing = true) {
    if (code == ERROR_ACCESS_DENIED && !writing)
        return std::string(what) + ": access denied to the key " + kCalibrationKeyText;
    if (code == ERROR_ACCESS_DENIED)
        return std::string(what) +
               ": access denied; changing the calibration needs administrator rights (run "
               "zelcal from an administrator command prompt)";
    return std::string(what) + ": " + SystemErrorText(code);
}

LONG OpenForWriting(HKEY* key) {
    return RegCreateKeyExA(HKEY_LOCAL_MACHINE, kKeyPath, 0, nullptr, REG_OPTION_NON_VOLATILE,
                           KEY_SET_VALUE | KEY_QUERY_VALUE, nullptr, key, nullptr);
}

} // namespace

std::string SystemErrorText(unsigned long code) {
    char text[512] = {};
    DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                             code, 0, text, sizeof text, nullptr);
    while (n > 0 &&
           (text[n - 1] == '\r' || text[n - 1] == '\n' || text[n - 1] == ' ' || text[n - 1] == '.'))
        text[--n] = 0;
    std::string out = n ? text : "system error";
    return out + " (error " + std::to_string(code) + ")";
}

bool ReadStoredValues(StoredValues* values, std::string* error) {
    StoredValues out;
    HKEY key;
    LONG rc = RegOpenKeyExA(HKEY_LOCAL_MACHINE, kKeyPath, 0, KEY_QUERY_VALUE, &key);
    if (rc == ERROR_FILE_NOT_FOUND) {
        *values = out;
        return true;
    }
    if (rc != ERROR_SUCCESS) {
        *error = Failure("reading the calibration", rc, false);
        return false;
    }
    for (int i = 0; i < kAxes && rc == ERROR_SUCCESS; ++i) {
        DWORD size = 0;
        rc = RegQueryValueExA(key, ValueName(i), nullptr, nullptr, nullptr, &size);
        if (rc == ERROR_FILE_NOT_FOUND) {
            rc = ERROR_SUCCESS;
            continue;
        }
        if (rc != ERROR_SUCCESS)
            break;
        std::vector<uint8_t> data(size);
        rc = RegQueryValueExA(key, ValueName(i), nullptr, nullptr, data.data(), &size);
        data.resize(size);
        if (rc == ERROR_SUCCESS)
            out[i] = data;
    }
    RegCloseKey(key);
    if (rc != ERROR_SUCCESS) {
        *error = Failure("reading the calibration", rc, false);
        return false;
    }
    *values = out;
    return true;
}

bool CheckWriteAccess(std::string* error) {
    HKEY key;
    const LONG rc = OpenForWriting(&key);
    if (rc != ERROR_SUCCESS) {
        *error = Failure("cannot write the calibration", rc);
        return false;
    }
    RegCloseKey(key);
    return true;
}

ValueStore RegistryStore() {
    ValueStore store;
    store.Write = [](int axis, const std::vector<uint8_t>& bytes, std::string* error) {
        HKEY key;
        LONG rc = OpenForWriting(&key);
        if (rc == ERROR_SUCCESS) {
            rc = RegSetValueExA(key, ValueName(axis), 0, REG_BINARY, bytes.data(),
                                DWORD(bytes.size()));
            RegCloseKey(key);
        }
        if (rc != ERROR_SUCCESS)
            *error = Failure((std::string("writing ") + ValueName(axis)).c_str(), rc);
        return rc == ERROR_SUCCESS;
    };
    store.Remove = [](int axis, std::string* error) {
        HKEY key;
        LONG rc = RegOpenKeyExA(HKEY_LOCAL_MACHINE, kKeyPath, 0, KEY_SET_VALUE, &key);
        if (rc == ERROR_FILE_NOT_FOUND)
            return true;
        if (rc == ERROR_SUCCESS) {
            rc = RegDeleteValueA(key, ValueName(axis));
            RegCloseKey(key);
            if (rc == ERROR_FILE_NOT_FOUND)
                rc = ERROR_SUCCESS;
        }
        if (rc != ERROR_SUCCESS)
            *error = Failure((std::string("removing ") + ValueName(axis)).c_str(), rc);
        return rc == ERROR_SUCCESS;
    };
    return store;
}

} // namespace zelcal
