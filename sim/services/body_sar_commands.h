// The firmware's body-SAR commands and the factory's at@ commands.
//
// AT+BODYSAREN, AT+BODYSARMODE (0/1): the enable and sensor-polarity bytes 0 and 1 of the SAR
// parameter item. AT+BODYSARON (0/1), AT+BODYSARPROFILE (0..2): the firmware's own settings.
// Read forms answer "+NAME: n".
//
// AT+BODYSAR=<table text> (see sar_table_text.h) sets band limits in the active profile's table;
// nothing is written unless the whole text is taken. AT+BODYSAR? answers "+BODYSAR:" and one
// line tech,value,"mask" per band with a non-zero limit, 3G first, bands ascending:
//   +BODYSAR:
//   1,205,"0x1"
//   1,200,"0x2"
//   ...
//   2,200,"0x1000000"
// AT+BODYSARCLEAR puts the item back to the factory's with body-SAR enabled (polarity 0), back-off
// on and profile 1.
//
// A modem without the SAR parameter item has no body-SAR feature and answers them all ERROR.
//
// at+GTBAND5WA and at@sec:code_verify(ANY) are accepted and do nothing here. On osprey,
// at@nvm:cal_mtpm.mtpm_tx_power_table[P].max_tx_pwr_3g.overrideVals[I].override_portA=V (portA..D,
// band; max_tx_pwr_3g.numOverrideElts=N; the same for max_tx_pwr_4g) writes that word of profile
// P's table in the item, and at@nvm:store_nvm_sync(cal_mtpm) is accepted (the store is always
// persistent); other families answer every at@nvm command ERROR.
#pragma once

#include <string_view>

#include "sim/services/at_firmware.h"

namespace sim::services {

AtResult BodySarEnable(AtModem& modem, std::string_view args);
AtResult BodySarMode(AtModem& modem, std::string_view args);
AtResult BodySarOn(AtModem& modem, std::string_view args);
AtResult BodySarProfile(AtModem& modem, std::string_view args);
AtResult BodySarTable(AtModem& modem, std::string_view args);
AtResult BodySarClear(AtModem& modem, std::string_view args);
AtResult Band5Workaround(AtModem& modem, std::string_view args);

// Prefix commands: `rest` is the text after "@SEC:CODE_VERIFY" / "@NVM:".
AtResult CodeVerify(AtModem& modem, std::string_view rest);
AtResult NvmCommand(AtModem& modem, std::string_view rest);

}  // namespace sim::services
