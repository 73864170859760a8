// config.h - what the configuration mapping (config.cc) lends the other readers: its number
// conversions, and the size from which a run keeps sparse rows.
// Part of pravlin; see README.md.
#ifndef PRAVLIN_CONFIG_H
#define PRAVLIN_CONFIG_H

#include "pravlin.h"

/// atoi as the C library does it (leading white space, sign, digits, the rest ignored), but
/// saturating at INT_MIN and INT_MAX instead of overflowing. Null reads as 0.
int xml_atoi(const char* s);
/// atof as the C library does it; null reads as 0.0.
double xml_atof(const char* s);

/// Makes states the fewest with which a run that needs no dense matrix keeps sparse rows
/// (read_configuration_for_run); 0 restores the default, 2048: lets tests reach the sparse
/// rows with small models.
void set_sparse_rows_from(int states);

#endif
