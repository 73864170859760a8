// fit_order.h - higher orders: the chain on K-tuples of states, and the comparison of orders.
// Part of pravlin; see README.md.
#ifndef PRAVLIN_FIT_ORDER_H
#define PRAVLIN_FIT_ORDER_H

#include "fit.h"

/// The separator of the labels in a tuple's name.
constexpr char FIT_TUPLE_SEPARATOR = '|';
/// The data of the chain on K-tuples of states, from the kept sequences; K >= 2. Does not
/// return when a label holds the separator, or when pravlin could not hold the tuples.
void fit_tuples(const FIT_OPTIONS* opt, const FIT_DATA* data, long order, FIT_DATA* tuples);
/// The free parameters and criteria of the model fitted to tuples, the K-th order chain of data:
/// each tuple's row has the m - 1 of data's m states, not one a tuple.
void fit_tuple_parameters(const FIT_DATA* data, const FIT_DATA* tuples, FIT_MODEL* model);
/// Orders 0..K compared on the same observations, from the kept sequences.
void fit_select_order(const FIT_DATA* data, long max_order, FIT_ORDER_CHOICE* choice);

#endif
