// Registration of the parameters at parameter set-up, one add_param per
// table row.
#include "host/params.h"

#include <cstring>

namespace {

// Fills the value fields of one row into a cleared record.
void FillValue(const ParamRow& row, PF_ParamDef& def) {
    switch (row.type) {
    case PF_Param_LAYER:
        def.u.ld.dephault = 0; // no layer
        break;
    case PF_Param_SLIDER:
        def.u.sd.value = row.value;
        def.u.sd.valid_min = row.validMin;
        def.u.sd.valid_max = row.validMax;
        def.u.sd.slider_min = row.sliderMin;
        def.u.sd.slider_max = row.sliderMax;
        def.u.sd.dephault = row.value;
        break;
    case PF_Param_FIX_SLIDER:
        def.u.fd.value = row.value;
        def.u.fd.valid_min = row.validMin;
        def.u.fd.valid_max = row.validMax;
        def.u.fd.slider_min = row.sliderMin;
        def.u.fd.slider_max = row.sliderMax;
        def.u.fd.dephault = row.value;
        def.u.fd.precision = row.precision;
        def.u.fd.display_flags = row.displayFlags;
        break;
    case PF_Param_CHECKBOX:
        def.u.bd.value = row.value;
        def.u.bd.dephault = PF_Boolean(row.value);
        def.u.bd.u.nameptr = row.text;
        break;
    case PF_Param_COLOR:
        def.u.cd.value = row.colour;
        def.u.cd.dephault = row.colour;
        break;
    case PF_Param_POINT:
        def.u.td.x_value = row.value;
        def.u.td.y_value = row.value;
        def.u.td.restrict_bounds = 1;
        def.u.td.x_dephault = row.value;
        def.u.td.y_dephault = row.value;
        break;
    case PF_Param_POPUP:
        def.u.pd.value = row.value;
        def.u.pd.num_choices = row.numChoices;
        def.u.pd.dephault = A_short(row.value);
        def.u.pd.u.namesptr = row.text;
        break;
    default:
        break;
    }
}

} // namespace

PF_Err SetupParams(PF_InData* in_data, PF_OutData* out_data) {
    out_data->num_params = in_data->num_params;
    PF_ParamDef def;
    for (const ParamRow& row : kParamTable) {
        std::memset(&def, 0, sizeof def);
        in_data->utils->ansi.strcpy(def.name, row.name);
        def.param_type = row.type;
        def.flags = row.flags;
        FillValue(row, def);
        PF_Err err = in_data->inter.add_param(in_data->effect_ref, -1, &def);
        if (err != PF_Err_NONE) return err;
        ++out_data->num_params;
    }
    return PF_Err_NONE;
}
