// The TikTok group's parameters and option tables: plain data, declared once in table order, with
// each localisation key next to its field. How the parameters react to each other lives in the
// settings callbacks, not here.
//
// All tables are constants, complete before the module's first instruction runs (constant
// initialisation), so no code, in any translation unit or thread, can observe them half built.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "settings/ParamDescriptor.h"

namespace Vekta {

// Groups.
inline constexpr char kTikTokGroupID[] = "VOXATikTokGroup";
inline constexpr char kTikTokLoginSubGroupID[] = "VOXATikTokLoginSubGroup";
inline constexpr char kTikTokCoverImageSubGroupID[] = "VOXATikTokCoverImageSubGroup";
inline constexpr char kTikTokPermissionsSubGroupID[] = "VOXATikTokPermissionsSubGroup";

// Parameters, in table order.
inline constexpr char kTikTokStatusTextID[] = "VOXATikTokStatusText";
inline constexpr char kTikTokLoginID[] = "VOXATikTokLogin";
inline constexpr char kTikTokPublishTypeID[] = "VOXATikTokPublishType";
inline constexpr char kTikTokFormatRequirementsID[] = "VOXATikTokFormatRequirements";
inline constexpr char kTikTokCaptionID[] = "VOXATikTokCaption";
inline constexpr char kTikTokCaptionChangedID[] = "VOXATikTokCaptionChanged";
inline constexpr char kTikTokCoverImageThumbnailTimeID[] = "VOXATikTokCoverImageThumbnailTime";
inline constexpr char kTikTokCoverImageThumbnailTimeBtnID[] = "VOXATikTokCoverImageThumbnailTimeBtn";
inline constexpr char kTikTokCoverImageThumbnailTimeTokenID[] = "VOXATikTokCoverImageThumbnailTimeToken";
inline constexpr char kTikTokCoverImageFileTokenID[] = "VOXATikTokCoverImageFileToken";
inline constexpr char kTikTokPrivateAccountID[] = "VOXATikTokPrivateAccount";
inline constexpr char kTikTokAccountCommentDisabledID[] = "VOXATikTokAccountCommentDisabled";
inline constexpr char kTikTokAccountDuetDisabledID[] = "VOXATikTokAccountDuetDisabled";
inline constexpr char kTikTokAccountStitchDisabledID[] = "VOXATikTokAccountStitchDisabled";
inline constexpr char kTikTokAccountMaxDurationID[] = "VOXATikTokAccountMaxDuration";
inline constexpr char kTikTokPrivacyID[] = "VOXATikTokPrivacy";
inline constexpr char kTikTokPrivacyTokenID[] = "VOXATikTokPrivacyToken";
inline constexpr char kTikTokCommentPermissionID[] = "VOXATikTokCommentPermission";
inline constexpr char kTikTokDuetPermissionID[] = "VOXATikTokDuetPermission";
inline constexpr char kTikTokStitchPermissionID[] = "VOXATikTokStitchPermission";
inline constexpr char kTikTokDeleteLocalFileID[] = "VOXATikTokDeleteLocalFile";
inline constexpr char kTikTokRefreshTokenID[] = "VOXATikTokRefreshToken";

// A host parameter the plug-in reads but does not add: host ticks per frame of the export.
inline constexpr char kHostTicksPerFrameID[] = "VOXAHiddenTicksPerFrame";

// Localisation keys of texts made outside the descriptor table.
inline constexpr char kTikTokGroupNameKey[] = "$$$/Vekta/PostProcess/TikTok/GroupName=TikTok";
inline constexpr char kTikTokPermissionLabelKey[] = "$$$/Tessel/PostProcess/TikTok/PermissionLabel=Allow users to";
inline constexpr char kSignInKey[] = "$$$/Tessel/PostProcess/SignIn=Sign In";
inline constexpr char kSignOutKey[] = "$$$/Tessel/PostProcess/SignOut=Sign Out";

// Publish type popup: the popup value is the option's position.
struct PublishTypeOption {
    std::int32_t value;
    const char* label;  // localisation key
};
inline constexpr std::int32_t kPublishTypePost = 0;
inline constexpr std::int32_t kPublishTypeDraft = 1;

// Privacy popup: the popup value is the option's position, which equals its code.
struct PrivacyOption {
    std::uint32_t code;
    const char* label;              // localisation key
    std::u16string_view apiString;  // privacy level as the content-posting API expects it; empty: not chosen
};
inline constexpr std::uint32_t kPrivacyCodeUnselected = 4;

// A group of the TikTok settings and where AddParameters creates it.
struct TikTokGroupDescriptor {
    const char* identifier;
    const char* parentGroupID;         // null: the host's group named in the instance record
    const std::u16string& (*title)();  // null: empty title
    std::int32_t flags1;
    std::int32_t flags2;
    std::int32_t flags3;
    const char* firstMemberID;  // created right before this parameter; null: before all of them
};

inline constexpr std::size_t kTikTokParameterCount = 22;

// In the order in which they are built at load.
extern const std::array<PublishTypeOption, 2> kPublishTypeOptions;
extern const std::size_t kPublishTypeDefaultIndex;                       // position of the option whose value is 0
extern const std::array<const char*, 7> kPublishTypeAffectedParameters;  // disabled while Draft is chosen
extern const std::array<PrivacyOption, 5> kPrivacyOptions;
extern const std::array<std::uint32_t, 3> kPublicAccountPrivacyCodes;
extern const std::array<std::uint32_t, 3> kPrivateAccountPrivacyCodes;
extern const std::size_t kPrivacyDefaultIndex;  // position of the option with code 4 ("Select an option...")
extern const std::array<ParamDescriptor, kTikTokParameterCount> kTikTokParamDescriptors;
extern const std::array<TikTokGroupDescriptor, 4> kTikTokGroups;

// Localised texts, made on first use (from any thread) and kept for the life of the module.
const std::u16string& TikTokGroupTitle();
const std::u16string& TikTokPermissionsTitle();
const std::u16string& TikTokDefaultCaption();  // "#CorvaneSolvane"

}  // namespace Vekta
