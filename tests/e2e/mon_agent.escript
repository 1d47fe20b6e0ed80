#!/usr/bin/env escript
%% -*- erlang -*-
%%! +sbwt none +sbwtdcpu none +sbwtdio none
%% A stand-in SNMP agent for the tests: the far end of the daemon's agent
%% links. It decodes with Erlang's own asn1 (the MON module compiled for
%% aligned PER with maps), not with the daemon's coder.
%%
%%   mon_agent.escript BEAMDIR RECORD CONTROL
%%
%% Listens on 127.0.0.1, on a port the system picks, and takes any number of
%% connections. RECORD gets one line per event, in arrival order:
%%   listening PORT                          first, once listening
%%   frame N HEX                             each message as it came, before
%%                                           what it holds
%%   connect N / closed N                    connection N came, went
%%   set N UNIQ SECTION NAME INDEX "VALUE"   one cell of an snmp-set command
%%   set N UNIQ oid OID "VALUE"              (the value's \ " and control
%%                                           octets escaped as \\ \" \xHH)
%%   trapsinks N HOST[:PORT]...              an snmp-trapsink-set command
%%   ping N                                  a ping
%%   other N TERM / undecodable N HEX        anything else
%% It answers pings, set and trap-sink commands with success, unless the
%% file CONTROL holds the word "silent" when the message arrives: then it
%% answers nothing (and still records).
%% Its schedulers sleep at once when idle (the %%! line above): an agent
%% waits most of the time, on a machine the tests keep busy.
-mode(compile).

main([BeamDir, Record, Control]) ->
    true = code:add_patha(BeamDir),
    {module, 'MON'} = code:ensure_loaded('MON'),
    {ok, L} = gen_tcp:listen(0, [binary, {packet, tpkt}, {active, false}, {reuseaddr, true},
                                 {ip, {127, 0, 0, 1}}]),
    {ok, Port} = inet:port(L),
    line(Record, io_lib:format("listening ~B", [Port])),
    accept(L, Record, Control, 1);
main(_) ->
    io:format(standard_error, "usage: mon_agent.escript BEAMDIR RECORD CONTROL~n", []),
    halt(2).

accept(L, Record, Control, N) ->
    {ok, S} = gen_tcp:accept(L),
    line(Record, io_lib:format("connect ~B", [N])),
    Pid = spawn(fun() -> receive go -> serve(S, Record, Control, N) end end),
    ok = gen_tcp:controlling_process(S, Pid),
    Pid ! go,
    accept(L, Record, Control, N + 1).

serve(S, Record, Control, N) ->
    case gen_tcp:recv(S, 0) of
        {ok, <<3, 0, _Len:16, Body/binary>>} ->
            line(Record, io_lib:format("frame ~B ~s", [N, hex(Body)])),
            Answer = handle(Body, Record, N),
            case {Answer, silent(Control)} of
                {none, _} -> ok;
                {_, true} -> ok;
                {Msg, false} -> send(S, Msg)
            end,
            serve(S, Record, Control, N);
        {ok, Other} ->
            line(Record, io_lib:format("undecodable ~B ~s", [N, hex(Other)])),
            serve(S, Record, Control, N);
        {error, _} ->
            line(Record, io_lib:format("closed ~B", [N])),
            gen_tcp:close(S)
    end.

%% Records one message; returns the answer (a MON Message) or none.
handle(Body, Record, N) ->
    case catch 'MON':decode('Message', Body) of
        {ok, #{pdu := {command, {ping, _}}}} ->
            line(Record, io_lib:format("ping ~B", [N])),
            #{pdu => {response, {ping, {success, 'NULL'}}}};
        {ok, #{pdu := {command, {'snmp-set', #{commands := Cells}}}}} ->
            %% One write for the whole command: a reader sees all its cells or none.
            line(Record, lists:join("\n", [cell(N, C) || C <- Cells])),
            #{pdu => {response, {'snmp-set', #{responses => [#{uniq => U, response => {success, 'NULL'}}
                                                             || #{uniq := U} <- Cells]}}}};
        {ok, #{pdu := {command, {'snmp-trapsink-set', #{trapsinks := Sinks}}}}} ->
            line(Record, ["trapsinks ", integer_to_list(N) | [[" ", sink(K)] || K <- Sinks]]),
            #{pdu => {response, {'snmp-trapsink-set', {success, 'NULL'}}}};
        {ok, Msg} ->
            line(Record, io_lib:format("other ~B ~w", [N, Msg])),
            none;
        _ ->
            line(Record, io_lib:format("undecodable ~B ~s", [N, hex(Body)])),
            none
    end.

cell(N, #{uniq := U, id := {name, #{section := Sec, name := Name, index := I}}, value := V}) ->
    io_lib:format("set ~B ~B ~s ~s ~B \"~s\"", [N, U, Sec, Name, I, escape(V)]);
cell(N, #{uniq := U, id := {oid, Oid}, value := V}) ->
    io_lib:format("set ~B ~B oid ~s \"~s\"", [N, U, Oid, escape(V)]).

sink(#{host := H, port := P}) -> [H, ":", integer_to_list(P)];
sink(#{host := H}) -> H.

escape(Text) ->
    lists:flatmap(fun($\\) -> "\\\\";
                     ($") -> "\\\"";
                     (C) when C < 32; C > 126 -> io_lib:format("\\x~2.16.0B", [C]);
                     (C) -> [C]
                  end, Text).

send(S, Msg) ->
    {ok, Out} = 'MON':encode('Message', Msg),
    Bin = iolist_to_binary(Out),
    gen_tcp:send(S, <<3, 0, (byte_size(Bin) + 4):16, Bin/binary>>).

silent(Control) ->
    case file:read_file(Control) of
        {ok, Text} -> string:trim(Text) =:= <<"silent">>;
        _ -> false
    end.

line(Record, Text) ->
    ok = file:write_file(Record, [Text, $\n], [append]).

hex(Bin) -> binary_to_list(binary:encode_hex(Bin)).
