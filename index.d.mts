// Type declarations for the ES module entry: the same functions as the
// CommonJS entry, as named exports and as the default export.
import zel from './index.js';

export {
  Compiler, Executer, Commandes, run, exec, compile, createPool, createQueue, createWorker, ZelError,
  Outcome, Diagnostic, CallOptions, CompileOptions, Pool, PoolOptions, ProgramText,
  Queue, QueueOptions, QueueCallOptions, QueueCompileOptions, QueueConnection, Worker, WorkerOptions,
} from './index.js';
export default zel;
