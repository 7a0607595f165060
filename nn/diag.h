// The -nnc CSV stream (standard output).
#pragma once

// One sample line: the 512 encoded inputs, each followed by ",", then the 512
// widened targets separated by "," and ended by a newline. The numbers print
// as the stream's default format prints them (general, six significant
// digits: "1", "-1", "0", "-0"), whatever a -dump has set on the stream.
void net_print_csv_sample(const float* inputs, const float* targets);
