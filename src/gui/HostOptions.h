#pragma once

#include <cstdint>
#include <initializer_list>

// What the preview's host allows the displayed document to do. Plain values, no Qt: the
// window applies them to the web view as far as the view has such notions.
namespace sarnika {

// Download-control options in ordinal order; each stands for the flag of the same name.
enum class TDownloadControlOption {
    DLCTL_DLIMAGES,
    DLCTL_VIDEOS,
    DLCTL_BGSOUNDS,
    DLCTL_NO_SCRIPTS,
    DLCTL_NO_JAVA,
    DLCTL_NO_RUNACTIVEXCTLS,
    DLCTL_NO_DLACTIVEXCTLS,
    DLCTL_DOWNLOADONLY,
    DLCTL_NO_FRAMEDOWNLOAD,
    DLCTL_RESYNCHRONIZE,
    DLCTL_PRAGMA_NO_CACHE,
    DLCTL_NO_BEHAVIORS,
    DLCTL_NO_METACHARSET,
    DLCTL_URL_ENCODING_DISABLE_UTF8,
    DLCTL_URL_ENCODING_ENABLE_UTF8,
    DLCTL_FORCEOFFLINE,
    DLCTL_NO_CLIENTPULL,
    DLCTL_SILENT,
    DLCTL_OFFLINE,
};

// Host user-interface options in ordinal order; each stands for DOCHOSTUIFLAG_<name>.
enum class TUserInterfaceOption {
    DIALOG,
    DISABLE_HELP_MENU,
    NO3DBORDER,
    SCROLL_NO,
    DISABLE_SCRIPT_INACTIVE,
    OPENNEWWIN,
    DISABLE_OFFSCREEN,
    FLAT_SCROLLBAR,
    DIV_BLOCKDEFAULT,
    ACTIVATE_CLIENTHIT_ONLY,
    OVERRIDEBEHAVIORFACTORY,
    CODEPAGELINKEDFONTS,
    URL_ENCODING_DISABLE_UTF8,
    URL_ENCODING_ENABLE_UTF8,
    ENABLE_FORMS_AUTOCOMPLETE,
    ENABLE_INPLACE_NAVIGATION,
    IME_ENABLE_RECONVERSION,
};

// A set of options of one enumeration, held as a mask with bit n for ordinal n.
template<typename Option, unsigned Count>
class TOptionSet {
public:
    static constexpr std::uint32_t kAll = (1U << Count) - 1U;

    constexpr TOptionSet() = default;
    constexpr TOptionSet(std::initializer_list<Option> options) {
        for (Option option : options) {
            include(option);
        }
    }
    static constexpr TOptionSet all() { return TOptionSet(kAll); }

    constexpr void include(Option option) { m_bits |= bit(option); }
    constexpr void exclude(Option option) { m_bits &= ~bit(option); }
    constexpr bool contains(Option option) const { return (m_bits & bit(option)) != 0; }
    constexpr bool empty() const { return m_bits == 0; }
    constexpr std::uint32_t ordinalBits() const { return m_bits; }
    friend constexpr bool operator==(TOptionSet, TOptionSet) = default;

private:
    constexpr explicit TOptionSet(std::uint32_t bits) : m_bits(bits & kAll) {}
    static constexpr std::uint32_t bit(Option option) {
        return 1U << static_cast<unsigned>(option);
    }
    std::uint32_t m_bits = 0;
};

using TDownloadControlOptions = TOptionSet<TDownloadControlOption, 19>;
using TUserInterfaceOptions = TOptionSet<TUserInterfaceOption, 17>;

// The platform flag of each option.
std::uint32_t downloadControlFlag(TDownloadControlOption option);
std::uint32_t userInterfaceFlag(TUserInterfaceOption option);

// The OR of the flags of the members; 0 for the empty set.
std::uint32_t downloadControlValue(TDownloadControlOptions options);
std::uint32_t hostInfoFlags(TUserInterfaceOptions options);

// Images, video clips and background sounds: what the preview starts with.
TDownloadControlOptions defaultDownloadOptions();

} // namespace sarnika
