// Page set-up of the thermal models: the wait for a ready printer, the page options read from
// the choices and the set-up commands they ask for.
#pragma once

#include "base/page.h"
#include "thermal/commands.h"

// The branch of a thermal model number: ready wait, option steps, commands; sets the page's
// hOffset, vOffset, Rotate and gray.
void thermalStartPage(ThermalJob &job, Page &page);

// The media-tracking byte (bCmdGap[2]) as the page set-up will leave it, without sending
// anything.
unsigned char gapModeForPage(const ThermalJob &job, const cups_page_header2_t &header);

// Millimetres to dots at dpi dots per inch, as (mm / 25.4) * dpi in double precision, truncated
// toward zero; clamped to +-1e6 dots so that absurd offsets stay representable.
int millimetresToDots(int mm, unsigned dpi);
