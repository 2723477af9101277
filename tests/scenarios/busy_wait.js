// A slow server (scripted, each read after the first and the recalculation answer after 2 s;
// the second read sends half of its 3,000 rows at once and stalls): while a call waits the
// animation plays, the overlay says what is happening and how many rows came, input reaches
// nothing, and a read is cancelled by Cancelar or Esc with the screen as it was (the server
// sees the client go); a recalculation cannot be cancelled.
shell.open("REC00800");
var screen = shell.form("frmRecCont");
screen.control("medCdEmpresa").type("01");
var grid = screen.control("dbgPadrao");
grid.focus();
var accounts = screen.dataset("cdsContRec");
assert(accounts.recordCount === 2, "the first list comes at once: " + accounts.recordCount);
grid.setCurrentRow(1);
grid.key("Space");
var marks = screen.component("klContMarcadas");
assert(marks.count === 1, "one mark");
function queries() {
    return shell.serverCalls.filter(function (c) { return c.method === "GetContRec"; });
}
var firstQuery = JSON.stringify(queries()[0].params);

// Cancelar: the overlay shows with its animation playing; keys, clicks and closing the screen
// reach nothing; the read ends at once with its message.
var seen = null;
shell.onBusy(function (overlay) {
    var ani = overlay.component("aniAguarde");
    var cancel = overlay.control("btnCancelar");
    seen = {text: overlay.control("lblAguarde").text, cancellable: cancel.enabled, frame: ani.frame,
            calls: shell.serverCalls.length};
    screen.control("medCdEmpresa").key("9");
    screen.control("sbtFiltro").click();
    grid.key("Up");
    screen.close(); // the close button: the screen would go from under its own call
    shell.processEvents(300);
    seen.frameLater = ani.frame;
    seen.callsLater = shell.serverCalls.length;
    cancel.click();
});
shell.clearMessages();
screen.control("sbtVerificar").click();
assert(seen !== null, "the overlay showed");
assert(/^Lendo contas a receber\.\.\. 1\.\d{3} linhas/.test(seen.text) && seen.cancellable, JSON.stringify(seen));
assert(seen.frameLater > seen.frame, "the animation plays: " + JSON.stringify(seen));
assert(seen.callsLater === seen.calls, "nothing called the server meanwhile");
var m = shell.messages;
assert(m.length === 1 && m[0].type === "information" && m[0].text === "Leitura cancelada pelo usuário.", JSON.stringify(m));
assert(screen.control("medCdEmpresa").text === "01", "the key went nowhere: " + screen.control("medCdEmpresa").text);
assert(screen.visible, "the screen is still open");
assert(accounts.recordCount === 2 && accounts.recNo === 2 && marks.count === 1, "the list, its row and mark as they were");
assert(shell.cursor === 0, "no hourglass left");

// Esc in the filter dialog: the dialog stays open with what was typed; the filter record
// keeps what the last good read used.
var inDialog = {};
shell.onBusy(function (overlay) {
    overlay.control("lblAguarde").key("Escape");
});
shell.onModal("frmFiltroRecalLancContReceber", function (filter) {
    filter.control("depVencIni").setText("01/01/2020");
    filter.control("sbtConfirma").click();
    inDialog.open = filter.visible;
    filter.close();
});
shell.clearMessages();
screen.control("sbtFiltro").click();
assert(inDialog.open, "a cancelled read keeps the dialog open");
m = shell.messages;
assert(m.length === 1 && m[0].text === "Leitura cancelada pelo usuário.", JSON.stringify(m));
assert(accounts.recordCount === 2 && marks.count === 1, "the list as it was");

// Without cancelling, the slow read ends with the filter record that the last good read used.
shell.onBusy(null);
screen.control("sbtVerificar").click();
var q = queries();
assert(JSON.stringify(q[q.length - 1].params) === firstQuery, "the filter record did not change: " + JSON.stringify(q[q.length - 1].params));

// A recalculation shows only progress: Cancelar is off and Esc does nothing.
grid.setCurrentRow(0);
grid.key("Space");
var recalc = null;
shell.onBusy(function (overlay) {
    if (overlay.control("lblAguarde").text.indexOf("Recalculando") !== 0)
        return;
    var cancel = overlay.control("btnCancelar");
    var ani = overlay.component("aniAguarde");
    recalc = {text: overlay.control("lblAguarde").text, cancellable: cancel.enabled, frame: ani.frame};
    overlay.control("lblAguarde").key("Escape");
    cancel.click();
    shell.processEvents(300);
    recalc.frameLater = ani.frame;
});
shell.clearMessages();
screen.control("sbtConfirmar").click();
assert(recalc !== null && !recalc.cancellable && recalc.text.indexOf("Recalculando a contabilização...") === 0,
       JSON.stringify(recalc));
assert(recalc.frameLater > recalc.frame, "the animation plays during the recalculation: " + JSON.stringify(recalc));
m = shell.messages;
assert(m.length === 1 && m[0].type === "information" && m[0].text.indexOf("realizado com sucesso") > 0, JSON.stringify(m));
assert(shell.form("frmAguarde") === null, "the overlay is gone");
log("espera ok");
