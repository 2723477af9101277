// A handler that returns with its modal form still open fails the run.
shell.open("REC00800");
var screen = shell.form("frmRecCont");
shell.onModal("frmPesquisa", function (list) {
    list.control("dbgPesquisa").setCurrentRow(1);
});
screen.control("btpEmpresa").click();
log("nunca");
