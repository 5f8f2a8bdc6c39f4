#include "app/Options.h"

#include <exception>

namespace sarnika {
namespace {

// Booleans are any non-zero number on reading, 0 or 1 on writing; bytes keep their low bits.
void load(OptionsStore& store, const char* name, bool& field) {
    if (const auto value = store.readNumber(name)) {
        field = *value != 0;
    } else {
        store.writeNumber(name, field ? 1 : 0);
    }
}

void load(OptionsStore& store, const char* name, std::uint8_t& field) {
    if (const auto value = store.readNumber(name)) {
        field = static_cast<std::uint8_t>(*value & 0xFFU);
    } else {
        store.writeNumber(name, field);
    }
}

void load(OptionsStore& store, const char* name, std::int32_t& field) {
    if (const auto value = store.readNumber(name)) {
        field = static_cast<std::int32_t>(*value);
    } else {
        store.writeNumber(name, static_cast<std::uint32_t>(field));
    }
}

// The store reports its failures as exceptions; the record reports them as a Status.
template<typename Steps>
Status guarded(Error::Code code, const Steps& steps) {
    try {
        steps();
    } catch (const std::exception& error) {
        return makeError(code, error.what());
    }
    return {};
}

} // namespace

Status TOptions::Load(OptionsStore& store) {
    return guarded(Error::Code::Unreadable, [&] {
        load(store, "HistoryRemoveSecLevel", HistoryRemoveSecLevel);
        load(store, "SecLevel", SecLevel);
        load(store, "IEDetectPeriod", IEDetectPeriod);
        load(store, "AutoCleanOnProgStartUp", AutoCleanOnProgStartUp);
        load(store, "RemoveAll", RemoveAll);
        load(store, "IEAutoDetection", IEAutoDetection);
        load(store, "ShowConfirms", ShowConfirms);
        load(store, "AutoStart", AutoStart);
        load(store, "ClearOnStartUp", ClearOnStartUp);
        load(store, "RemoveHistory", RemoveHistory);
        load(store, "UnloadShell", UnloadShell);
    });
}

Status TOptions::Save(OptionsStore& store) const {
    const auto flag = [](bool value) -> std::uint32_t {
        return value ? 1 : 0;
    };
    return guarded(Error::Code::WriteFailed, [&] {
        store.writeNumber("HistoryRemoveSecLevel", HistoryRemoveSecLevel);
        store.writeNumber("SecLevel", SecLevel);
        store.writeNumber("IEDetectPeriod", static_cast<std::uint32_t>(IEDetectPeriod));
        store.writeNumber("IEAutoDetection", flag(IEAutoDetection));
        store.writeNumber("ShowConfirms", flag(ShowConfirms));
        store.writeNumber("AutoStart", flag(AutoStart));
        store.writeNumber("ClearOnStartUp", flag(ClearOnStartUp));
        store.writeNumber("RemoveAll", flag(RemoveAll));
        store.writeNumber("AutoCleanOnProgStartUp", flag(AutoCleanOnProgStartUp));
        store.writeNumber("RemoveHistory", flag(RemoveHistory));
        store.writeNumber("UnloadShell", flag(UnloadShell));
    });
}

} // namespace sarnika
