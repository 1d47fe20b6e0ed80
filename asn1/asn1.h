// The ASN.1 runtime in one include: value classes, coder environment, the
// invalid-value trace and module tables. Generated modules include this.
#pragma once

#include "asn1/abstract_data.h"
#include "asn1/bit_string.h"
#include "asn1/char_string.h"
#include "asn1/choice.h"
#include "asn1/coder_env.h"
#include "asn1/generalized_time.h"
#include "asn1/invalid_tracer.h"
#include "asn1/module.h"
#include "asn1/open_data.h"
#include "asn1/scalar.h"
#include "asn1/sequence.h"
#include "asn1/sequence_of.h"
#include "asn1/type_info.h"
#include "asn1/visitor.h"
