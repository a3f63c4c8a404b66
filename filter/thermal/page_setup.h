// Page set-up of the thermal models: the wait for a ready printer, the page options read from
// the choices and the set-up commands they ask for (ThermalPrinter::startPage).
#pragma once

// Millimetres to dots at dpi dots per inch, as (mm / 25.4) * dpi in double precision, truncated
// toward zero; clamped to +-1e6 dots so that absurd offsets stay representable.
int millimetresToDots(int mm, unsigned dpi);
