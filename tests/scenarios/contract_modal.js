// Modal forms run the script's handler inside their loop: the filter dialog, the lookup list
// of a lookup button, and a picker opened from inside another modal form.
shell.open("REC00800");
var screen = shell.form("frmRecCont");

// The lookup list offers every company; OK chooses the current row.
var seen = null;
shell.onModal("frmPesquisa", function (list) {
    var rows = list.control("dbgPesquisa");
    seen = {caption: list.caption, rows: rows.rowCount, first: rows.cellText(0, "CDEMPRESA")};
    rows.setCurrentRow(1);
    list.control("btnOk").click();
});
screen.control("btpEmpresa").click();
assert(seen !== null, "the handler ran");
assert(seen.caption === "Empresa" && seen.rows === 3 && seen.first === "01", JSON.stringify(seen));
assert(screen.control("medCdEmpresa").text === "02", "the chosen company: " + screen.control("medCdEmpresa").text);
assert(screen.control("edtNmEmpresa").text !== "", "with its name");
assert(shell.form("frmPesquisa") === null || !shell.form("frmPesquisa").visible, "the list is gone");

// Cancel leaves the field as it was.
shell.onModal("frmPesquisa", function (list) { list.control("btnCancelar").click(); });
screen.control("btpEmpresa").click();
assert(screen.control("medCdEmpresa").text === "02", "cancel keeps the company");

// The filter dialog, and inside it the picker of the branch list.
screen.control("dbgPadrao").focus();
var picked = 0;
shell.onModal("frmPesquisaLista", function (picker) {
    var rows = picker.control("dbgLista");
    rows.setCurrentRow(0);
    rows.key("Space");
    picked = rows.rowCount;
    picker.control("btnOk").click();
});
var dialogState = {};
shell.onModal("frmFiltroRecalLancContReceber", function (filter) {
    dialogState.visible = filter.visible;
    ["sbtConfirma", "btfSaveOpc", "btfLoadOpc", "pgcPadrao"].forEach(function (n) {
        assert(filter.control(n).name === n, n);
    });
    filter.control("pgcPadrao").setActivePage("tshDocumento");
    filter.control("rbtListaFiliOrig").click();
    filter.control("btnFiliOrig").click();
    dialogState.afterPicker = filter.visible;
    filter.close();
});
screen.control("sbtFiltro").click();
assert(dialogState.visible === true && dialogState.afterPicker === true, JSON.stringify(dialogState));
assert(picked > 0, "the picker listed the branches");
assert(!shell.form("frmFiltroRecalLancContReceber").visible, "the dialog is closed");

// Without a handler any more, a modal form would fail the script: onModal(name, null) removes it.
shell.onModal("frmFiltroRecalLancContReceber", null);
shell.onModal("frmPesquisa", undefined);
