// fit.h - pravlin-fit's estimate, its model checks and its writers (fit.cc), over the records
// of fit_records.h.
// Part of pravlin; see README.md.
#ifndef PRAVLIN_FIT_H
#define PRAVLIN_FIT_H

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "fail.h"
#include "fit_records.h"
#include "scratch.h"

// fit.cc

/// The options as pravlin-fit starts from them, before its command line: the file's form
/// detected, maximum likelihood, unseen rows absorbing, 95% intervals, first order.
FIT_OPTIONS fit_default_options();
/// Estimates the model from data. Does not return when the model could not be run by pravlin.
void fit_estimate(const FIT_OPTIONS* opt, const FIT_DATA* data, FIT_MODEL* model);
/// Akaike's and Schwarz's criteria of a fit with the given free parameters and log-likelihood
/// over a number of observations: aic = 2 p - 2 ll, bic = p ln(n) - 2 ll. Every fit's are
/// computed here, so that the orders and the models compare on one formula.
void fit_information_criteria(double parameters, double log_likelihood, double observations,
                              double* aic, double* bic);
/// The model checks of --test, from the triple and block counts.
void fit_markov_test(const FIT_DATA* data, FIT_TEST* test);
void fit_homogeneity_test(const FIT_DATA* data, long blocks, FIT_TEST* test);
/// G² of a three-way table (a << 42 | b << 21 | c) -> n against "a and c independent given b",
/// with the degrees of freedom over the rows and columns seen of each b's table.
void fit_conditional_g2(const COUNT_MAP* cells, FIT_TEST* test);
/// The upper tail of the chi-square distribution with df degrees of freedom; 1 when df <= 0.
double fit_chi_square_p(double statistic, long df);
/// The rows of a model as the text summary shows them, and as the CSV does under the items
/// row_item and cell_item, with unseen_item for the transitions of an observed row never seen.
void fit_write_rows(FILE* out, const FIT_OPTIONS* opt, const FIT_DATA* data,
                    const FIT_MODEL* model);
void fit_write_rows_csv(FILE* out, const FIT_DATA* data, const FIT_MODEL* model,
                        const char* row_item, const char* cell_item, const char* unseen_item);
/// Quotes text as a CSV field.
void fit_csv_text(FILE* out, std::string_view text);
/// Writes the configuration.
void fit_write_config(FILE* out, const FIT_OPTIONS* opt, const FIT_DATA* data,
                      const FIT_MODEL* model);
/// Its parts: the root's opening, comment, header and states; and the model's transition
/// elements, each line after indent.
void fit_write_config_head(FILE* out, const FIT_OPTIONS* opt, const FIT_DATA* data,
                           const FIT_MODEL* model);
void fit_write_transitions(FILE* out, const char* indent, const FIT_MODEL* model);
/// Writes the summary as text (standard error) or as CSV.
void fit_write_summary(FILE* out, const FIT_OPTIONS* opt, const FIT_DATA* data,
                       const FIT_MODEL* model);
void fit_write_summary_csv(FILE* out, const FIT_OPTIONS* opt, const FIT_DATA* data,
                           const FIT_MODEL* model);
/// The shortest text that reads back as x: config_number, the form of every configuration.
std::string fit_number(double x);

#endif
