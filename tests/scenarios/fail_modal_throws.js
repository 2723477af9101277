// An error inside a modal handler is reported at its own line, and the dialog goes away.
shell.open("REC00800");
var screen = shell.form("frmRecCont");
shell.onModal("frmPesquisa", function (list) {
    var rows = list.control("dbgPesquisa");
    assert(rows.rowCount === 99, "a lista tem " + rows.rowCount + " empresas");
});
screen.control("btpEmpresa").click();
log("nunca");
