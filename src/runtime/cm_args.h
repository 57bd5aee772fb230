// Helpers of the option parser: the program's call line joined into one
// text, and the regular-expression scan that hands out captured groups.
#ifndef VRK_RUNTIME_CM_ARGS_H
#define VRK_RUNTIME_CM_ARGS_H

#include <type_traits>

// Size of GET_CALL_PARAM's static buffer.
#define CALL_PARAM_BUF 2048

// Joins option[0] to option[number-1], each as a double-quoted text and a
// blank, into a static buffer overwritten by every call. An argument that
// does not fit is left out and "... truncated" is written over the buffer's
// last 14 bytes: it ends the text when the text already reaches them.
char *GET_CALL_PARAM(int number, char **option);

// The scan behind pscanf: matches the PCRE2 pattern format against the whole
// of input. It refuses (-1, traced, no output touched) a pattern that does not
// compile or whose number of capturing groups is not nOutputs. On a match,
// each group up to the highest that took part is stored as a new string the
// caller frees (a group that did not take part gives ""), later outputs are
// not touched, and the number stored is returned; without a match PCRE2's
// negative code is returned and no output is touched.
int pscanf_v(const char *input, const char *format, char **const *outputs, int nOutputs);

// pscanf(input, format, &out1, &out2, ...): one char** per capturing group.
template <typename... Outs>
int pscanf(const char *input, const char *format, Outs... outs) {
  static_assert((std::is_same<Outs, char **>::value && ...), "pscanf outputs must be char**");
  char **outputs[sizeof...(Outs) + 1] = {outs..., nullptr};
  return pscanf_v(input, format, outputs, static_cast<int>(sizeof...(Outs)));
}

#endif
